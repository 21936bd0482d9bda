#include "solid/sph_solid_dynamics.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/sph_error.hpp"
#include "core/sph_model.hpp"
#include "solid/sph_solid.hpp"

namespace {

constexpr double largest_double = std::numeric_limits<double>::max();
constexpr double finite_limit = 8.988465674311579e307;

int fail(Model& m, int code, const char* message) {
    return sph_error_set(m.error, code, message);
}

bool held(const std::vector<SolidTensor>& stress, int npart) {
    return npart > 0 && stress.size() == static_cast<std::size_t>(npart);
}

double& at(SolidMatrix& a, int row, int col) {
    return a[static_cast<std::size_t>(row + 3 * col)];
}
double at(const SolidMatrix& a, int row, int col) {
    return a[static_cast<std::size_t>(row + 3 * col)];
}

SolidMatrix multiply(const SolidMatrix& a, const SolidMatrix& b) {
    SolidMatrix c{};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            double sum = 0.0;
            for (int k = 0; k < 3; ++k) sum += at(a, row, k) * at(b, k, col);
            at(c, row, col) = sum;
        }
    }
    return c;
}

// True for the pair test of reference neighbors (NaN distances fail it).
bool reference_pair(const DbState& db, int i, int j) {
    const double r = norm(db.x0[j] - db.x0[i]);
    return r > 0.0 && r <= 2.0 * std::max(db.h[i], db.h[j]);
}

// reference_pair for the particles at xi and xj with h = max(h_i, h_j),
// decided from the squared distance d2 against the squared support widened
// by a relative 2^-40 either way, far more than the rounding of both squares
// and of the square root, so that only a pair inside that band (or a support
// whose square is not a normal number) takes the square root. d2 is formed
// as norm forms it, so both tests see the same value.
inline bool reference_pair_at(const Vec3& xi, const Vec3& xj, double h) {
    const Vec3 d = xj - xi;
    const double d2 = dot(d, d);
    if (!(d2 > 0.0)) return false;  // coincident, or NaN
    const double support = 2.0 * h;
    const double square = support * support;
    if (square >= 0x1p-960 && square <= largest_double) {
        if (d2 <= square * (1.0 - 0x1p-40)) return true;
        if (d2 >= square * (1.0 + 0x1p-40)) return false;
    }
    return std::sqrt(d2) <= support;
}

// The all-pairs definition, for models a grid cannot bin (a non-finite
// support or coordinates beyond the cell index range).
void neighbors_all_pairs(const Model& m, std::vector<std::vector<int>>& lists,
                         const std::vector<int>& solids) {
    for (int i : solids) {
        for (int j : solids) {
            if (j != i && reference_pair(m.db, i, j))
                lists[static_cast<std::size_t>(i)].push_back(j);
        }
    }
}

}  // namespace

int sph_solid_find_reference_neighbors(Model& m) {
    const DbState& db = m.db;
    SolidState& s = m.solid;
    const int n = db.npart;
    std::vector<int> solids;
    double h_max = 0.0;
    for (int i = 0; i < n; ++i) {
        if (!sph_solid_is_active_particle(db, i)) continue;
        solids.push_back(i);
        h_max = std::max(h_max, db.h[i]);
    }
    s.reference_offset.assign(static_cast<std::size_t>(n) + 1, 0);
    s.reference_neighbors.clear();
    s.neighbors_current_at_reference = false;
    if (solids.empty()) return sph_success;

    // While every particle is still at its reference position (a build), the
    // neighbor search finds every pair within 2 max(h) of the reference
    // geometry in a fraction of the time of the cell walk below; its links,
    // filtered by the exact test and sorted, are the reference neighbors.
    bool at_reference = true;
    for (int i = 0; i < n && at_reference; ++i) {
        at_reference = std::memcmp(&db.x[i], &db.x0[i], sizeof(Vec3)) == 0;
    }
    if (at_reference) {
        if (const int st = sph_neighbor_rebuild(m)) return st;
        s.neighbors_current_at_reference = true;
        std::vector<unsigned char> active(static_cast<std::size_t>(n), 0);
        int64_t link_total = 0;
        for (const int i : solids) {
            active[static_cast<std::size_t>(i)] = 1;
            link_total += db.neighbor_count[i];
        }
        s.reference_neighbors.reserve(static_cast<std::size_t>(link_total));
        std::vector<int> found;
        int64_t total = 0;
        for (int i = 0; i < n; ++i) {
            s.reference_offset[static_cast<std::size_t>(i)] = total;
            if (!active[static_cast<std::size_t>(i)]) continue;
            found.clear();
            const int64_t begin = db.neighbor_offset[i];
            const int64_t end = begin + db.neighbor_count[i];
            for (int64_t k = begin; k < end; ++k) {
                const int j = db.neighbor_list[static_cast<std::size_t>(k)];
                if (j != i && active[static_cast<std::size_t>(j)] && reference_pair(db, i, j)) {
                    found.push_back(j);
                }
            }
            std::sort(found.begin(), found.end());
            s.reference_neighbors.insert(s.reference_neighbors.end(), found.begin(), found.end());
            total += static_cast<int64_t>(found.size());
        }
        s.reference_offset[static_cast<std::size_t>(n)] = total;
        return sph_success;
    }

    // Cells of edge 2 h_max hold every neighbor of a particle in its own and
    // the 26 adjacent cells. Particles with a non-finite position cannot be
    // anyone's neighbor (their distances are NaN or infinite).
    const double cell = 2.0 * h_max;
    Vec3 lo{largest_double, largest_double, largest_double};
    for (int i : solids) {
        for (int c = 0; c < 3; ++c) {
            if (std::isfinite(db.x0[i][c])) lo[c] = std::min(lo[c], db.x0[i][c]);
        }
    }
    struct Key {
        int64_t x, y, z;
        int index;
    };
    std::vector<Key> keys;
    keys.reserve(solids.size());
    bool binnable = std::isfinite(cell) && cell > 0.0;
    for (int i : solids) {
        if (!binnable) break;
        const Vec3& p = db.x0[i];
        if (!(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z))) continue;
        int64_t q[3];
        for (int c = 0; c < 3; ++c) {
            const double f = std::floor((p[c] - lo[c]) / cell);
            if (!(f >= 0.0 && f < 0x1p60)) binnable = false;
            q[c] = binnable ? static_cast<int64_t>(f) : 0;
        }
        keys.push_back({q[0], q[1], q[2], i});
    }
    if (!binnable) {
        std::vector<std::vector<int>> lists(static_cast<std::size_t>(n));
        neighbors_all_pairs(m, lists, solids);
        int64_t total = 0;
        for (int i = 0; i < n; ++i) {
            s.reference_offset[static_cast<std::size_t>(i)] = total;
            total += static_cast<int64_t>(lists[static_cast<std::size_t>(i)].size());
        }
        s.reference_offset[static_cast<std::size_t>(n)] = total;
        s.reference_neighbors.reserve(static_cast<std::size_t>(total));
        for (const std::vector<int>& list : lists) {
            s.reference_neighbors.insert(s.reference_neighbors.end(), list.begin(), list.end());
        }
        return sph_success;
    }
    const auto less = [](const Key& a, const Key& b) {
        if (a.z != b.z) return a.z < b.z;
        if (a.y != b.y) return a.y < b.y;
        if (a.x != b.x) return a.x < b.x;
        return a.index < b.index;
    };
    std::sort(keys.begin(), keys.end(), less);
    // The occupied cells in key order, each with its first key; the cells
    // x - 1, x, x + 1 of a row are then one run of keys.
    struct Cell {
        int64_t x, y, z;
        std::size_t begin;
    };
    std::vector<Cell> cells;
    for (std::size_t k = 0; k < keys.size(); ++k) {
        if (k == 0 || keys[k].x != keys[k - 1].x || keys[k].y != keys[k - 1].y ||
            keys[k].z != keys[k - 1].z) {
            cells.push_back({keys[k].x, keys[k].y, keys[k].z, k});
        }
    }
    const std::size_t cell_count = cells.size();
    cells.push_back({0, 0, 0, keys.size()});
    const auto first_cell_at = [&](int64_t x, int64_t y, int64_t z) {
        const auto it =
            std::lower_bound(cells.begin(), cells.begin() + static_cast<std::ptrdiff_t>(cell_count),
                             Cell{x, y, z, 0}, [](const Cell& a, const Cell& b) {
                                 if (a.z != b.z) return a.z < b.z;
                                 if (a.y != b.y) return a.y < b.y;
                                 return a.x < b.x;
                             });
        return cells[static_cast<std::size_t>(it - cells.begin())].begin;
    };
    // Positions and smoothing lengths in key order, read in runs.
    const std::size_t count = keys.size();
    std::vector<Vec3> position(count);
    std::vector<double> smoothing(count);
    for (std::size_t k = 0; k < count; ++k) {
        position[k] = db.x0[keys[k].index];
        smoothing[k] = db.h[keys[k].index];
    }
    // Each particle's neighbors, ascending, in key order; then laid out by index.
    std::vector<int> found_all;
    std::vector<int64_t> found_begin(static_cast<std::size_t>(n), 0);
    std::vector<int> found_count(static_cast<std::size_t>(n), 0);
    std::vector<int> found;
    for (std::size_t c = 0; c < cell_count; ++c) {
        const Cell& cell = cells[c];
        std::size_t row_begin[9], row_end[9];
        int rows = 0;
        for (int64_t dz = -1; dz <= 1; ++dz) {
            for (int64_t dy = -1; dy <= 1; ++dy) {
                row_begin[rows] = first_cell_at(cell.x - 1, cell.y + dy, cell.z + dz);
                row_end[rows] = first_cell_at(cell.x + 2, cell.y + dy, cell.z + dz);
                ++rows;
            }
        }
        for (std::size_t a = cell.begin; a < cells[c + 1].begin; ++a) {
            found.clear();
            const int i = keys[a].index;
            for (int r = 0; r < rows; ++r) {
                for (std::size_t b = row_begin[r]; b < row_end[r]; ++b) {
                    if (b != a && reference_pair_at(position[a], position[b],
                                                    std::max(smoothing[a], smoothing[b]))) {
                        found.push_back(keys[b].index);
                    }
                }
            }
            std::sort(found.begin(), found.end());
            found_begin[static_cast<std::size_t>(i)] = static_cast<int64_t>(found_all.size());
            found_count[static_cast<std::size_t>(i)] = static_cast<int>(found.size());
            found_all.insert(found_all.end(), found.begin(), found.end());
        }
    }
    int64_t total = 0;
    for (int i = 0; i < n; ++i) {
        s.reference_offset[static_cast<std::size_t>(i)] = total;
        total += found_count[static_cast<std::size_t>(i)];
    }
    s.reference_offset[static_cast<std::size_t>(n)] = total;
    s.reference_neighbors.resize(static_cast<std::size_t>(total));
    for (int i = 0; i < n; ++i) {
        const auto from = found_all.begin() + found_begin[static_cast<std::size_t>(i)];
        std::copy(from, from + found_count[static_cast<std::size_t>(i)],
                  s.reference_neighbors.begin() + s.reference_offset[static_cast<std::size_t>(i)]);
    }
    return sph_success;
}

namespace {

// Visits the reference neighbors of i that are still active solids, in
// ascending index order.
template <class Visit>
void for_each_reference_neighbor(const Model& m, int i, const Visit& visit) {
    const SolidState& s = m.solid;
    if (s.reference_offset.size() != static_cast<std::size_t>(m.db.npart) + 1) return;
    const int64_t begin = s.reference_offset[static_cast<std::size_t>(i)];
    const int64_t end = s.reference_offset[static_cast<std::size_t>(i) + 1];
    for (int64_t k = begin; k < end; ++k) {
        const int j = s.reference_neighbors[static_cast<std::size_t>(k)];
        if (sph_solid_is_active_particle(m.db, j)) visit(j);
    }
}

}  // namespace

void sph_solid_invert_3x3(const SolidMatrix& a, SolidMatrix& inverse, double& det_value,
                          bool& invertible) {
    inverse = SolidMatrix{};
    invertible = false;
    const double m00 = at(a, 0, 0), m01 = at(a, 0, 1), m02 = at(a, 0, 2);
    const double m10 = at(a, 1, 0), m11 = at(a, 1, 1), m12 = at(a, 1, 2);
    const double m20 = at(a, 2, 0), m21 = at(a, 2, 1), m22 = at(a, 2, 2);
    const double c00 = m11 * m22 - m12 * m21;
    const double c01 = m10 * m22 - m12 * m20;
    const double c02 = m10 * m21 - m11 * m20;
    det_value = m00 * c00 - m01 * c01 + m02 * c02;
    double scale = 0.0;
    for (double v : a) {
        if (std::isnan(v) || std::fabs(v) > finite_limit) return;
        scale = std::max(scale, std::fabs(v));
    }
    if (std::isnan(det_value) || !(scale > 0.0)) return;
    if (std::fabs(det_value) <=
        2.220446049250313e-13 * std::max(2.2250738585072014e-308, scale * scale * scale)) {
        return;
    }
    // Adjugate (transposed cofactors) over the determinant.
    SolidMatrix inv{};
    at(inv, 0, 0) = c00 / det_value;
    at(inv, 0, 1) = -(m01 * m22 - m02 * m21) / det_value;
    at(inv, 0, 2) = (m01 * m12 - m02 * m11) / det_value;
    at(inv, 1, 0) = -c01 / det_value;
    at(inv, 1, 1) = (m00 * m22 - m02 * m20) / det_value;
    at(inv, 1, 2) = -(m00 * m12 - m02 * m10) / det_value;
    at(inv, 2, 0) = c02 / det_value;
    at(inv, 2, 1) = -(m00 * m21 - m01 * m20) / det_value;
    at(inv, 2, 2) = (m00 * m11 - m01 * m10) / det_value;
    for (double v : inv) {
        if (std::isnan(v) || std::fabs(v) > finite_limit) return;
    }
    inverse = inv;
    invertible = true;
}

int sph_solid_build_reference_state(Model& m) {
    SolidState& s = m.solid;
    DbState& db = m.db;
    const int n = db.npart;
    s.neighbors_current_at_reference = false;
    if (s.solid_correction_matrix.size() != static_cast<std::size_t>(n) || n <= 0) {
        return sph_success;
    }
    std::fill(s.solid_reference_volume.begin(), s.solid_reference_volume.end(), 0.0);
    std::fill(s.solid_deformation_gradient.begin(), s.solid_deformation_gradient.end(),
              SolidMatrix{});
    std::fill(s.solid_correction_matrix.begin(), s.solid_correction_matrix.end(), SolidMatrix{});
    std::fill(s.solid_correction_determinant.begin(), s.solid_correction_determinant.end(), 0.0);
    std::fill(s.solid_reference_neighbor_count.begin(), s.solid_reference_neighbor_count.end(), 0);
    std::fill(s.solid_reference_degenerate.begin(), s.solid_reference_degenerate.end(), 0);
    std::fill(s.solid_correction_status.begin(), s.solid_correction_status.end(), 0);
    const SolidMatrix identity{1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
    for (int i = 0; i < n; ++i) {
        if (!sph_solid_is_active_particle(db, i)) continue;
        if (!(db.h[i] > 0.0)) {
            return fail(m, sph_error_argument, "Solid reference state requires positive h");
        }
        double v0 = db.volume[i];
        if (v0 <= 0.0 && db.rho[i] > 0.0) v0 = db.mass[i] / db.rho[i];
        if (!(v0 > 0.0)) {
            return fail(m, sph_error_argument, "Solid reference state requires positive volume");
        }
        s.solid_reference_volume[static_cast<std::size_t>(i)] = v0;
        s.solid_deformation_gradient[static_cast<std::size_t>(i)] = identity;
    }
    if (const int st = sph_solid_find_reference_neighbors(m)) return st;
    for (int i = 0; i < n; ++i) {
        if (!sph_solid_is_active_particle(db, i)) continue;
        const std::size_t k = static_cast<std::size_t>(i);
        SolidMatrix moment{};
        int count = 0;
        for_each_reference_neighbor(m, i, [&](int j) {
            ++count;
            const Vec3 dx = db.x0[j] - db.x0[i];
            const double v0j = s.solid_reference_volume[static_cast<std::size_t>(j)];
            for (int b = 0; b < 3; ++b) {
                for (int a = 0; a < 3; ++a) at(moment, a, b) += v0j * dx[a] * dx[b];
            }
        });
        s.solid_reference_neighbor_count[k] = count;
        const auto fallback = [&](int status, double det) {
            s.solid_correction_matrix[k] = identity;
            s.solid_correction_determinant[k] = det;
            s.solid_correction_status[k] = status;
            s.solid_reference_degenerate[k] = sph_solid_reference_degenerate;
        };
        if (count <= 2) {
            fallback(sph_solid_correction_underconstrained, 0.0);
            continue;
        }
        SolidMatrix inverse{};
        double det = 0.0;
        bool invertible = false;
        sph_solid_invert_3x3(moment, inverse, det, invertible);
        s.solid_correction_determinant[k] = det;
        if (!invertible) {
            fallback(sph_solid_correction_singular, det);
            continue;
        }
        s.solid_correction_matrix[k] = inverse;
        s.solid_correction_status[k] = sph_solid_correction_ok;
        s.solid_reference_degenerate[k] = sph_solid_reference_ok;
    }
    return sph_success;
}

int sph_solid_compute_velocity_gradient(Model& m) {
    SolidState& s = m.solid;
    const DbState& db = m.db;
    const int n = db.npart;
    if (s.solid_velocity_gradient.size() != static_cast<std::size_t>(n) || n <= 0) {
        return sph_success;
    }
    std::fill(s.solid_velocity_gradient.begin(), s.solid_velocity_gradient.end(), SolidMatrix{});
    std::fill(s.solid_strain_rate.begin(), s.solid_strain_rate.end(), SolidTensor{});
    std::fill(s.solid_strain_rate_eq.begin(), s.solid_strain_rate_eq.end(), 0.0);
    for (int i = 0; i < n; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        if (!sph_solid_is_active_particle(db, i) ||
            s.solid_correction_status[k] != sph_solid_correction_ok) {
            continue;
        }
        SolidMatrix g{};
        for_each_reference_neighbor(m, i, [&](int j) {
            const Vec3 dv = db.v[j] - db.v[i];
            const Vec3 dx = db.x0[j] - db.x0[i];
            const double v0j = s.solid_reference_volume[static_cast<std::size_t>(j)];
            for (int b = 0; b < 3; ++b) {
                for (int a = 0; a < 3; ++a) at(g, a, b) += v0j * dv[a] * dx[b];
            }
        });
        const SolidMatrix l = multiply(g, s.solid_correction_matrix[k]);
        s.solid_velocity_gradient[k] = l;
        SolidTensor& d = s.solid_strain_rate[k];
        d = {at(l, 0, 0),
             at(l, 1, 1),
             at(l, 2, 2),
             (at(l, 0, 1) + at(l, 1, 0)) / 2.0,
             (at(l, 1, 2) + at(l, 2, 1)) / 2.0,
             (at(l, 0, 2) + at(l, 2, 0)) / 2.0};
        const double mean = (d[0] + d[1] + d[2]) / 3.0;
        const double d1 = d[0] - mean, d2 = d[1] - mean, d3 = d[2] - mean;
        s.solid_strain_rate_eq[k] = std::sqrt(
            std::max(0.0, (2.0 / 3.0) * (d1 * d1 + d2 * d2 + d3 * d3 +
                                         2.0 * (d[3] * d[3] + d[4] * d[4] + d[5] * d[5]))));
    }
    return sph_success;
}

int sph_solid_compute_particle_strain_increment(Model& m, int index, double dt,
                                                SolidTensor& strain_inc) {
    strain_inc = SolidTensor{};
    if (index < 0 || index >= m.db.npart) {
        return fail(m, sph_error_argument, "Solid strain particle index is out of range");
    }
    if (!(dt > 0.0)) return fail(m, sph_error_argument, "Solid strain update requires positive dt");
    const SolidState& s = m.solid;
    if (!sph_solid_is_active_particle(m.db, index) ||
        s.solid_strain_rate.size() != static_cast<std::size_t>(m.db.npart)) {
        return sph_success;
    }
    const SolidTensor& d = s.solid_strain_rate[static_cast<std::size_t>(index)];
    for (int c = 0; c < 6; ++c) strain_inc[c] = d[c] * dt;
    return sph_success;
}

void sph_solid_update_deformation_gradient(Model& m, int index, double dt) {
    SolidState& s = m.solid;
    const std::size_t n = static_cast<std::size_t>(m.db.npart);
    if (!sph_solid_is_active_particle(m.db, index) || s.solid_deformation_gradient.size() != n ||
        s.solid_velocity_gradient.size() != n) {
        return;
    }
    const std::size_t k = static_cast<std::size_t>(index);
    const SolidMatrix& l = s.solid_velocity_gradient[k];
    SolidMatrix step{};
    for (int b = 0; b < 3; ++b) {
        for (int a = 0; a < 3; ++a) at(step, a, b) = (a == b ? 1.0 : 0.0) + dt * at(l, a, b);
    }
    s.solid_deformation_gradient[k] = multiply(step, s.solid_deformation_gradient[k]);
}

int sph_solid_advance_material(Model& m, double dt) {
    if (!held(m.solid.solid_stress, m.db.npart)) return sph_success;
    if (const int st = sph_solid_compute_velocity_gradient(m)) return st;
    for (int i = 0; i < m.db.npart; ++i) {
        if (!sph_solid_is_active_particle(m.db, i)) continue;
        SolidTensor inc{};
        if (const int st = sph_solid_compute_particle_strain_increment(m, i, dt, inc)) return st;
        sph_solid_update_deformation_gradient(m, i, dt);
        if (const int st = sph_solid_update_particle_material(m, i, inc, dt)) return st;
    }
    return sph_success;
}

int sph_solid_compute_internal_acceleration(Model& m) {
    SolidState& s = m.solid;
    const DbState& db = m.db;
    const int n = db.npart;
    if (s.solid_acc_internal.size() != static_cast<std::size_t>(n) || n <= 0) return sph_success;
    std::fill(s.solid_acc_internal.begin(), s.solid_acc_internal.end(), Vec3{});
    // Each pair i < j once, in the order of the all-pairs definition. The
    // stresses are the acting ones (their softening included), so the pair
    // force carries each particle's softening once.
    //
    // The pair force is the work conjugate of the corrected velocity
    // gradient L_i = sum_j V0_j (v_j - v_i) (C_i dX)^T: f_i = V0_i V0_j
    // (stress_i C_i + stress_j C_j) dX, dX = X_j - X_i, so the stress power
    // the strain rates take is exactly the work the forces do and the step
    // conserves energy. (A force of S e V0_i V0_j / r is no force, its unit
    // is N m^3, and a kernel-gradient force, not conjugate to L, feeds energy
    // into the solid until it blows up.) A particle without a correction
    // (fewer than three neighbors, or singular) takes no strain and exerts
    // no stress of its own.
    for (int i = 0; i < n; ++i) {
        if (!sph_solid_is_active_particle(db, i)) continue;
        const std::size_t ki = static_cast<std::size_t>(i);
        for_each_reference_neighbor(m, i, [&](int j) {
            if (j <= i) return;
            const std::size_t kj = static_cast<std::size_t>(j);
            const Vec3 dx = db.x0[j] - db.x0[i];
            const auto term = [&](std::size_t k) {
                if (s.solid_correction_status[k] != sph_solid_correction_ok) return Vec3{};
                const SolidMatrix& c = s.solid_correction_matrix[k];
                const Vec3 g{c[0] * dx.x + c[3] * dx.y + c[6] * dx.z,
                             c[1] * dx.x + c[4] * dx.y + c[7] * dx.z,
                             c[2] * dx.x + c[5] * dx.y + c[8] * dx.z};
                const SolidTensor& st = s.solid_stress[k];
                return Vec3{st[0] * g.x + st[3] * g.y + st[5] * g.z,
                            st[3] * g.x + st[1] * g.y + st[4] * g.z,
                            st[5] * g.x + st[4] * g.y + st[2] * g.z};
            };
            const Vec3 ti = term(ki), tj = term(kj);
            const double factor = s.solid_reference_volume[ki] * s.solid_reference_volume[kj];
            const Vec3 f{(ti.x + tj.x) * factor, (ti.y + tj.y) * factor, (ti.z + tj.z) * factor};
            if (db.mass[i] > 0.0) {
                s.solid_acc_internal[ki] +=
                    Vec3{f.x / db.mass[i], f.y / db.mass[i], f.z / db.mass[i]};
            }
            if (db.mass[j] > 0.0) {
                s.solid_acc_internal[kj] -=
                    Vec3{f.x / db.mass[j], f.y / db.mass[j], f.z / db.mass[j]};
            }
        });
    }
    return sph_success;
}

int sph_solid_compute_acceleration(Model& m) {
    SolidState& s = m.solid;
    if (s.solid_acc_internal.size() != static_cast<std::size_t>(m.db.npart)) return sph_success;
    if (const int st = sph_solid_compute_internal_acceleration(m)) return st;
    DbState& db = m.db;
    for (int i = 0; i < db.npart; ++i) {
        if (sph_solid_is_active_particle(db, i)) {
            db.a[i] = s.solid_acc_internal[static_cast<std::size_t>(i)] + s.solid_body_force;
        }
    }
    return sph_success;
}

int sph_solid_estimate_dt_limits(Model& m, double& dt_cfl, double& dt_accel, double& dt_limit) {
    dt_cfl = largest_double;
    dt_accel = largest_double;
    dt_limit = 0.0;
    SolidDiagnostics& d = m.db.solid;
    if (!held(m.solid.solid_stress, m.db.npart)) {
        d.solid_dt_cfl = 0.0;
        d.solid_dt_accel = 0.0;
        d.solid_dtcrit = 0.0;
        return sph_success;
    }
    if (const int st = sph_solid_compute_acceleration(m)) return st;
    const DbState& db = m.db;
    double cfl = largest_double;
    double accel = largest_double;
    for (int i = 0; i < db.npart; ++i) {
        if (!sph_solid_is_active_particle(db, i)) continue;
        const int slot = sph_solid_slot_of_material(m.solid, db.material_id[i]);
        if (slot == 0) continue;
        const double c = m.solid.slots[static_cast<std::size_t>(slot - 1)].solid_wave_speed;
        const double h = db.h[i];
        if (!(c > 0.0) || !(h > 0.0)) {
            return fail(m, sph_error_argument, "invalid Solid state for dt estimate");
        }
        cfl = std::min(cfl, h / (c + norm(db.v[i])));
        const double a_abs = norm(db.a[i]);
        if (a_abs > 0.0) accel = std::min(accel, std::sqrt(h / a_abs));
    }
    if (cfl == largest_double) cfl = 0.0;
    if (accel == largest_double) accel = cfl;
    double limit = cfl;
    if (accel > 0.0 && accel < cfl) limit = accel;
    dt_cfl = cfl;
    dt_accel = accel;
    dt_limit = limit;
    d.solid_dt_cfl = cfl;
    d.solid_dt_accel = accel;
    d.solid_dtcrit = limit;
    return sph_success;
}

int sph_solid_update_diagnostics(Model& m) {
    DbState& db = m.db;
    SolidDiagnostics& d = db.solid;
    const SolidState& s = m.solid;
    if (!held(s.solid_stress, db.npart)) {
        sph_db_clear_solid_diagnostics(db);
        return sph_success;
    }
    const double dt_cfl = d.solid_dt_cfl, dt_accel = d.solid_dt_accel, dtcrit = d.solid_dtcrit;
    sph_db_clear_solid_diagnostics(db);
    d.solid_dt_cfl = dt_cfl;
    d.solid_dt_accel = dt_accel;
    d.solid_dtcrit = dtcrit;
    Vec3 force_sum;
    for (int i = 0; i < db.npart; ++i) {
        if (db.particle_phase[i] == sph_phase_solid_failed ||
            db.particle_status[i] == sph_status_failed) {
            d.solid_failed_count += 1;
        }
        if (!sph_solid_is_active_particle(db, i)) continue;
        const std::size_t k = static_cast<std::size_t>(i);
        const double mass = db.mass[i];
        const double vm = sph_solid_von_mises(s.solid_stress[k]);
        if (d.solid_particle_count == 0) {
            d.solid_max_von_mises = vm;
            d.solid_min_plastic_strain = d.solid_max_plastic_strain = s.solid_plastic_strain[k];
            d.solid_min_damage = d.solid_max_damage = s.solid_damage[k];
            d.solid_min_softening = d.solid_max_softening = s.solid_softening[k];
            d.solid_reference_neighbor_min = s.solid_reference_neighbor_count[k];
            d.solid_correction_det_min = s.solid_correction_determinant[k];
            d.solid_correction_status_max = s.solid_correction_status[k];
        } else {
            d.solid_max_von_mises = std::max(d.solid_max_von_mises, vm);
            d.solid_min_plastic_strain =
                std::min(d.solid_min_plastic_strain, s.solid_plastic_strain[k]);
            d.solid_max_plastic_strain =
                std::max(d.solid_max_plastic_strain, s.solid_plastic_strain[k]);
            d.solid_min_damage = std::min(d.solid_min_damage, s.solid_damage[k]);
            d.solid_max_damage = std::max(d.solid_max_damage, s.solid_damage[k]);
            d.solid_min_softening = std::min(d.solid_min_softening, s.solid_softening[k]);
            d.solid_max_softening = std::max(d.solid_max_softening, s.solid_softening[k]);
            d.solid_reference_neighbor_min =
                std::min(d.solid_reference_neighbor_min, s.solid_reference_neighbor_count[k]);
            d.solid_correction_det_min =
                std::min(d.solid_correction_det_min, s.solid_correction_determinant[k]);
            d.solid_correction_status_max =
                std::max(d.solid_correction_status_max, s.solid_correction_status[k]);
        }
        d.solid_particle_count += 1;
        d.solid_mass += mass;
        d.solid_momentum += mass * db.v[i];
        d.solid_kinetic_energy += 0.5 * mass * dot(db.v[i], db.v[i]);
        d.solid_internal_energy_total += mass * s.solid_internal_energy[k];
        d.solid_max_acceleration = std::max(d.solid_max_acceleration, norm(db.a[i]));
        d.solid_max_strain_rate = std::max(d.solid_max_strain_rate, s.solid_strain_rate_eq[k]);
        force_sum += mass * s.solid_acc_internal[k];
    }
    d.solid_internal_force_residual = norm(force_sum);
    return sph_success;
}

void sph_solid_get_counts(const Model& m, int& active_count, int& failed_count) {
    active_count = 0;
    failed_count = 0;
    const DbState& db = m.db;
    for (int i = 0; i < db.npart; ++i) {
        if (sph_solid_is_active_particle(db, i)) active_count += 1;
        if (db.particle_phase[i] == sph_phase_solid_failed ||
            db.particle_status[i] == sph_status_failed) {
            failed_count += 1;
        }
    }
}
