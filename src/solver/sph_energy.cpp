#include "solver/sph_energy.hpp"

#include <cmath>
#include <string>

#include "core/sph_format.hpp"
#include "core/sph_model.hpp"
#include "gas/sph_gas.hpp"
#include "solid/sph_solid.hpp"
#include "water/sph_water.hpp"

namespace {

// Energy per unit mass stored by compression under the Tait equation
// p = p0 + B ((rho/rho0)^g - 1): the integral of p / rho^2 from rho0 to rho.
double tait_compression_energy(const WaterState& w, double rho) {
    const double g = w.water_gamma, b = w.water_b, p0 = w.water_p0, rho0 = w.water_rho0;
    if (!(rho > 0.0) || !(rho0 > 0.0) || !(g > 1.0)) return 0.0;
    const auto u = [&](double r) {
        return b * std::pow(r, g - 1.0) / ((g - 1.0) * std::pow(rho0, g)) + (b - p0) / r;
    };
    return u(rho) - u(rho0);
}

bool nonzero(double v) {
    return v != 0.0;
}
bool nonzero(const Vec3& v) {
    return v.x != 0.0 || v.y != 0.0 || v.z != 0.0;
}

template <class T>
bool any_nonzero(const std::vector<T>& values) {
    for (const T& v : values) {
        if (nonzero(v)) return true;
    }
    return false;
}

bool external_work_possible(const Model& m) {
    if (!m.explosive.slots.empty()) return true;
    // The gas keeps each particle's specific internal energy as it expands or
    // is compressed (its energy has no work term), so it takes in or gives off
    // heat: the particles' own forces alone do not keep the budget.
    for (int i = 0; i < m.db.npart; ++i) {
        if (sph_gas_is_active_particle(m.db, i)) return true;
    }
    for (const BlastRegion& r : m.blast.regions) {
        if (r.blast_region_enabled) return true;
    }
    const GasSourceState& s = m.gas.sources;
    if (any_nonzero(s.gas_mass_source) || any_nonzero(s.gas_energy_source) ||
        any_nonzero(s.gas_momentum_source)) {
        return true;
    }
    const CouplingState& c = m.coupling;
    if (c.coupling_cumulative_work != 0.0) return true;
    for (const int flag : c.coupling_motion_flag) {
        if (flag != 0) return true;
    }
    return any_nonzero(c.coupling_external_force);
}

void append_real(std::string& line, double value) {
    char field[sph_format_real_width];
    line.append(field, sph_format_real_trimmed(field, value));
}

}  // namespace

double EnergyBudget::total() const {
    double sum = potential;
    for (const PhaseEnergy& p : phases) sum += p.kinetic + p.internal;
    return sum;
}

EnergyBudget sph_energy_budget(const Model& m) {
    EnergyBudget e;
    const DbState& db = m.db;
    const std::size_t solid_states = m.solid.solid_internal_energy.size();
    for (int i = 0; i < db.npart; ++i) {
        if (db.particle_status[i] != sph_status_active) continue;
        const int phase = db.particle_phase[i];
        if (phase < sph_phase_water || phase > sph_phase_shell) continue;
        const double mass = db.mass[i];
        const Vec3& v = db.v[i];
        PhaseEnergy& p = e.phases[static_cast<std::size_t>(phase - sph_phase_water)];
        p.particles += 1;
        p.kinetic += 0.5 * mass * dot(v, v);
        Vec3 body;
        switch (phase) {
            case sph_phase_water:
                p.internal += mass * tait_compression_energy(m.water, db.rho[i]);
                body = m.water.water_body_force;
                break;
            case sph_phase_gas:
                p.internal += mass * db.internal_energy[i];
                body = m.gas.gas_body_force;
                break;
            case sph_phase_explosive:
                p.internal += mass * db.internal_energy[i];
                break;
            case sph_phase_solid:
                if (static_cast<std::size_t>(i) < solid_states) {
                    p.internal += mass * m.solid.solid_internal_energy[static_cast<std::size_t>(i)];
                }
                body = m.solid.solid_body_force;
                break;
            default:
                break;
        }
        e.potential -= mass * dot(body, db.x[i]);
    }
    e.external_work = external_work_possible(m);
    return e;
}

void sph_energy_log(Model& m) {
    if (!m.log.sph_log_is_open) return;
    const EnergyBudget e = sph_energy_budget(m);
    static constexpr const char* names[] = {"water", "gas", "explosive", "solid", "shell"};
    std::string line = "energy step ";
    line += sph_format_int_string(m.control.current_step);
    line += " time ";
    append_real(line, m.control.current_time);
    for (std::size_t k = 0; k < e.phases.size(); ++k) {
        line += ' ';
        line += names[k];
        line += ' ';
        line += sph_format_int_string(e.phases[k].particles);
        line += ' ';
        append_real(line, e.phases[k].kinetic);
        line += ' ';
        append_real(line, e.phases[k].internal);
    }
    line += " potential ";
    append_real(line, e.potential);
    line += " external_work ";
    line += e.external_work ? '1' : '0';
    sph_log_info(m.log, line);
}
