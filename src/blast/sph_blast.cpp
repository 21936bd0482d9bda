#include "blast/sph_blast.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/sph_error.hpp"
#include "core/sph_model.hpp"
#include "core/sph_text.hpp"

namespace {

constexpr double finite_limit = 8.988465674311579e307;

bool finite_value(double value) {
    return !std::isnan(value) && std::fabs(value) <= finite_limit;
}

int fail(Model& m, int code, const char* message) {
    return sph_error_set(m.error, code, message);
}

bool active(const DbState& db, int i) {
    return i >= 0 && i < db.npart && db.particle_status[i] == sph_status_active;
}

double squared_distance(const Vec3& a, const Vec3& b) {
    const Vec3 d = b - a;
    return dot(d, d);
}

// Membership of every particle in the region's target set: the node set of
// that name (looked up first) lists its external id, or else an element of
// the element set of that name lists it in its connectivity.
std::vector<unsigned char> target_set_mask(Model& m, const BlastRegion& r) {
    DbState& db = m.db;
    std::vector<unsigned char> mask(static_cast<std::size_t>(db.npart), 0);
    const std::string name = sph_text_upper(sph_text_trim(r.blast_target_set_name));
    if (name == "NONE") return mask;
    std::vector<int> ids;
    if (const int ns = sph_db_find_nset(db, r.blast_target_set_name); ns > 0) {
        sph_db_for_each_set_member(db.nsets[static_cast<std::size_t>(ns - 1)], [&](int id) {
            ids.push_back(id);
            return true;
        });
    } else if (const int es = sph_db_find_elset(db, r.blast_target_set_name); es > 0) {
        std::vector<int> members;
        sph_db_for_each_set_member(db.elsets[static_cast<std::size_t>(es - 1)], [&](int id) {
            members.push_back(id);
            return true;
        });
        std::sort(members.begin(), members.end());
        for (const ElementRecord& e : db.elements) {
            if (!std::binary_search(members.begin(), members.end(), e.element_id_ext)) continue;
            ids.insert(ids.end(), e.element_conn, e.element_conn + e.element_conn_count);
        }
    }
    std::sort(ids.begin(), ids.end());
    for (int i = 0; i < db.npart; ++i) {
        mask[static_cast<std::size_t>(i)] =
            std::binary_search(ids.begin(), ids.end(), db.particle_id_ext[i]) ? 1 : 0;
    }
    return mask;
}

void ensure_masks(Model& m) {
    BlastState& b = m.blast;
    if (b.masks_npart == m.db.npart && b.in_target_set.size() == b.regions.size()) return;
    b.in_target_set.clear();
    for (const BlastRegion& r : b.regions) b.in_target_set.push_back(target_set_mask(m, r));
    b.masks_npart = m.db.npart;
}

}  // namespace

int sph_blast_phase_code(std::string_view text) {
    const std::string t = sph_text_upper(sph_text_trim(text));
    if (t.find("WATER") != std::string::npos) return sph_blast_phase_water;
    if (t.find("GAS") != std::string::npos) return sph_blast_phase_gas;
    if (t.find("EXPLOSIVE") != std::string::npos) return sph_blast_phase_explosive;
    if (t == "SOLID") return sph_blast_phase_solid;
    if (t == "SHELL") return sph_blast_phase_shell;
    if (t.find("STRUCTURE") != std::string::npos) return sph_blast_phase_structure;
    if (t == "ALL" || t == "ANY") return sph_blast_phase_all;
    return sph_blast_phase_none;
}

int sph_blast_mode_code(std::string_view text) {
    const std::string t = sph_text_upper(sph_text_trim(text));
    if (t.empty() || t.find("RADIAL") != std::string::npos) return sph_blast_mode_radial;
    if (t.find("NORMAL") != std::string::npos) return sph_blast_mode_normal;
    if (t.find("DIRECT") != std::string::npos) return sph_blast_mode_direct;
    return 0;
}

bool sph_blast_phase_matches(int filter_phase, int db_phase) {
    switch (filter_phase) {
        case sph_blast_phase_water:
            return db_phase == sph_phase_water;
        case sph_blast_phase_gas:
            return db_phase == sph_phase_gas;
        case sph_blast_phase_explosive:
            return db_phase == sph_phase_explosive;
        case sph_blast_phase_solid:
            return db_phase == sph_phase_solid;
        case sph_blast_phase_shell:
            return db_phase == sph_phase_shell;
        case sph_blast_phase_structure:
            return db_phase == sph_phase_solid || db_phase == sph_phase_shell;
        case sph_blast_phase_all:
            return true;
        default:
            return false;
    }
}

void sph_blast_initialize(BlastState& blast) {
    blast = BlastState{};
}

void sph_blast_reset(BlastState& blast) {
    blast = BlastState{};
}

int sph_blast_add_region(Model& m, std::string_view name, const Vec3& center, double radius,
                         std::string_view source_phase_name, std::string_view target_phase_name,
                         std::string_view target_set_name, double scale, double time_window,
                         std::string_view mode_name, bool enabled) {
    BlastState& b = m.blast;
    if (static_cast<int>(b.regions.size()) >= sph_blast_max_regions) {
        return fail(m, sph_error_database, "too many Blast region records");
    }
    std::string field = sph_text_field(name, sph_name_len);
    if (sph_text_is_blank(field)) field = "BLAST";
    for (const BlastRegion& r : b.regions) {
        if (sph_text_name_equal(sph_text_trim(r.blast_region_name), sph_text_trim(field))) {
            return fail(m, sph_error_input, "Blast region NAME is duplicated");
        }
    }
    if (!finite_value(radius) || radius <= 0.0) {
        return fail(m, sph_error_input, "Blast region RADIUS must be positive");
    }
    if (!finite_value(scale)) return fail(m, sph_error_input, "Blast region SCALE must be finite");
    if (!finite_value(time_window) || time_window < 0.0) {
        return fail(m, sph_error_input, "Blast region TIME_WINDOW must be non-negative");
    }
    if (!finite_value(center.x) || !finite_value(center.y) || !finite_value(center.z)) {
        return fail(m, sph_error_input, "Blast region center must be finite");
    }
    const int source = sph_blast_phase_code(source_phase_name);
    if (source == sph_blast_phase_none) {
        return fail(m, sph_error_input, "Blast region SOURCE_PHASE is invalid");
    }
    const int target = sph_blast_phase_code(target_phase_name);
    if (target == sph_blast_phase_none) {
        return fail(m, sph_error_input, "Blast region TARGET_PHASE is invalid");
    }
    const int mode = sph_blast_mode_code(mode_name);
    if (mode == 0) return fail(m, sph_error_input, "Blast region MODE is invalid");
    if (sph_text_is_blank(target_set_name)) {
        return fail(m, sph_error_input, "Blast region is missing TARGET_SET");
    }
    const bool none = sph_text_upper(sph_text_trim(target_set_name)) == "NONE";
    if (!none && sph_db_find_elset(m.db, target_set_name) == 0 &&
        sph_db_find_nset(m.db, target_set_name) == 0) {
        return fail(m, sph_error_input, "Blast region TARGET_SET is unknown");
    }
    BlastRegion r;
    r.blast_region_name = field;
    r.blast_target_set_name = sph_text_field(target_set_name, sph_name_len);
    r.blast_source_phase = source;
    r.blast_target_phase = target;
    r.blast_projection_mode = mode;
    r.blast_region_enabled = enabled && !none;
    r.blast_center = center;
    r.blast_radius = radius;
    r.blast_load_scale = scale;
    r.blast_time_window = time_window;
    b.regions.push_back(std::move(r));
    b.masks_npart = -1;
    return sph_success;
}

void sph_blast_invalidate_masks(BlastState& blast) {
    blast.masks_npart = -1;
}

int sph_blast_count_unused_regions(const BlastState& blast) {
    return static_cast<int>(
        std::count_if(blast.regions.begin(), blast.regions.end(),
                      [](const BlastRegion& r) { return !r.blast_region_enabled; }));
}

bool sph_blast_in_region(const Model& m, int region, int index) {
    const BlastState& b = m.blast;
    if (region < 1 || region > static_cast<int>(b.regions.size())) return false;
    if (index < 0 || index >= m.db.npart) return false;
    const BlastRegion& r = b.regions[static_cast<std::size_t>(region - 1)];
    return squared_distance(r.blast_center, m.db.x[index]) <= r.blast_radius * r.blast_radius;
}

bool sph_blast_particle_in_target_set(Model& m, int region, int index) {
    if (region < 1 || region > static_cast<int>(m.blast.regions.size())) return false;
    if (index < 0 || index >= m.db.npart) return false;
    ensure_masks(m);
    return m.blast.in_target_set[static_cast<std::size_t>(region - 1)]
                                [static_cast<std::size_t>(index)] != 0;
}

bool sph_blast_source_accepts(const Model& m, int region, int index) {
    if (region < 1 || region > static_cast<int>(m.blast.regions.size())) return false;
    const BlastRegion& r = m.blast.regions[static_cast<std::size_t>(region - 1)];
    return index >= 0 && index < m.db.npart &&
           sph_blast_phase_matches(r.blast_source_phase, m.db.particle_phase[index]) &&
           active(m.db, index) && sph_blast_in_region(m, region, index);
}

bool sph_blast_target_accepts(Model& m, int region, int index) {
    if (region < 1 || region > static_cast<int>(m.blast.regions.size())) return false;
    const BlastRegion& r = m.blast.regions[static_cast<std::size_t>(region - 1)];
    return index >= 0 && index < m.db.npart &&
           sph_blast_phase_matches(r.blast_target_phase, m.db.particle_phase[index]) &&
           active(m.db, index) && sph_blast_particle_in_target_set(m, region, index) &&
           sph_blast_in_region(m, region, index);
}

int64_t sph_blast_count_pairs(const Model& m, const std::vector<int>& first,
                              const std::vector<int>& second, double radius) {
    const auto gather = [&](const std::vector<int>& list) {
        std::vector<Vec3> out;
        out.reserve(list.size());
        for (int i : list) out.push_back(m.db.x[static_cast<std::size_t>(i)]);
        return out;
    };
    return sph_blast_count_point_pairs(gather(first), gather(second), radius);
}

int64_t sph_blast_candidate_pair_count(BlastState& blast, int region) {
    if (region < 1 || region > sph_blast_max_regions) return 0;
    const std::size_t r = static_cast<std::size_t>(region - 1);
    BlastSnapshot& s = blast.snapshot[r];
    if (blast.pair_count_pending[r] && r < blast.regions.size()) {
        s.blast_candidate_pair_count = sph_blast_count_point_pairs(
            blast.source_positions[r], blast.target_positions[r], blast.regions[r].blast_radius);
        blast.pair_count_pending[r] = false;
    }
    return s.blast_candidate_pair_count;
}

int64_t sph_blast_count_point_pairs(const std::vector<Vec3>& first, const std::vector<Vec3>& second,
                                    double radius) {
    if (first.empty() || second.empty()) return 0;
    const double r2 = radius * radius;
    // The grid holds the larger list; the smaller one queries it.
    const std::vector<Vec3>& x = first.size() >= second.size() ? first : second;
    const std::vector<Vec3>& query_points = first.size() >= second.size() ? second : first;
    const auto plain = [&] {
        int64_t count = 0;
        for (const Vec3& q : query_points) {
            for (const Vec3& p : x) count += squared_distance(q, p) <= r2 ? 1 : 0;
        }
        return count;
    };
    Vec3 lo{std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
            std::numeric_limits<double>::max()};
    Vec3 hi{-lo.x, -lo.y, -lo.z};
    std::vector<int> finite_points;
    finite_points.reserve(x.size());
    for (int j = 0; j < static_cast<int>(x.size()); ++j) {
        const Vec3& p = x[static_cast<std::size_t>(j)];
        if (!(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z))) continue;
        finite_points.push_back(j);  // a non-finite position pairs with nothing
        for (int c = 0; c < 3; ++c) {
            lo[c] = std::min(lo[c], p[c]);
            hi[c] = std::max(hi[c], p[c]);
        }
    }
    if (!(radius > 0.0) || !std::isfinite(r2) || r2 == 0.0) return plain();
    if (finite_points.empty()) return 0;
    // Cells of R / u with u balancing the rows a query visits (pi u^2)
    // against the points it tests one by one near the sphere (about 3 N / u).
    const double u =
        std::clamp(std::cbrt(3.0 * double(finite_points.size()) / 6.283185307179586), 1.0, 128.0);
    double cell = radius / u;
    int64_t dims[3];
    for (int pass = 0; pass < 2; ++pass) {
        int64_t cells = 1;
        for (int c = 0; c < 3; ++c) {
            const double d = std::floor((hi[c] - lo[c]) / cell) + 1.0;
            if (!(d < 1e6)) return plain();
            dims[c] = static_cast<int64_t>(d);
            cells *= dims[c];
        }
        const int64_t budget = 8 * static_cast<int64_t>(finite_points.size()) + 4096;
        if (cells <= budget) break;
        if (pass == 1) return plain();
        cell *= std::cbrt(double(cells) / double(budget)) * 1.01;
    }
    const int64_t nx = dims[0], ny = dims[1], nz = dims[2];
    const auto coord = [&](double v, int c) {
        const int64_t k = static_cast<int64_t>(std::floor((v - lo[c]) / cell));
        return std::clamp<int64_t>(k, 0, dims[c] - 1);
    };
    const std::size_t total_cells = static_cast<std::size_t>(nx * ny * nz);
    std::vector<int> start(total_cells + 1, 0);
    std::vector<int64_t> cell_of(finite_points.size());
    for (std::size_t k = 0; k < finite_points.size(); ++k) {
        const Vec3& p = x[finite_points[k]];
        cell_of[k] = coord(p.x, 0) + nx * (coord(p.y, 1) + ny * coord(p.z, 2));
        ++start[static_cast<std::size_t>(cell_of[k]) + 1];
    }
    for (std::size_t c = 0; c < total_cells; ++c) start[c + 1] += start[c];
    std::vector<int> sorted(finite_points.size());
    {
        std::vector<int> fill(start.begin(), start.end() - 1);
        for (std::size_t k = 0; k < finite_points.size(); ++k) {
            sorted[static_cast<std::size_t>(fill[static_cast<std::size_t>(cell_of[k])]++)] =
                finite_points[k];
        }
    }
    // A cell's box may hold points binned by rounding just outside it: every
    // bound carries this slack, and only cells certainly inside the sphere
    // are counted whole; the others test their points exactly.
    double scale = radius;
    for (int c = 0; c < 3; ++c) scale = std::max({scale, std::fabs(lo[c]), std::fabs(hi[c])});
    const double slack = 1e-12 * scale;
    int64_t count = 0;
    for (const Vec3& q : query_points) {
        if (!(std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z))) continue;
        const int64_t z0 = coord(q.z - radius - slack, 2), z1 = coord(q.z + radius + slack, 2);
        const int64_t y0 = coord(q.y - radius - slack, 1), y1 = coord(q.y + radius + slack, 1);
        for (int64_t iz = z0; iz <= z1; ++iz) {
            const double zl = lo.z + double(iz) * cell - slack,
                         zh = lo.z + double(iz + 1) * cell + slack;
            const double dzn = std::max({0.0, zl - q.z, q.z - zh});
            const double dzf = std::max(std::fabs(q.z - zl), std::fabs(q.z - zh));
            for (int64_t iy = y0; iy <= y1; ++iy) {
                const double yl = lo.y + double(iy) * cell - slack,
                             yh = lo.y + double(iy + 1) * cell + slack;
                const double dyn = std::max({0.0, yl - q.y, q.y - yh});
                const double dyf = std::max(std::fabs(q.y - yl), std::fabs(q.y - yh));
                const double near2 = r2 - (dyn * dyn + dzn * dzn);
                if (near2 < -1e-9 * r2) continue;
                const double outer = std::sqrt(std::max(0.0, near2)) * (1.0 + 1e-9) + slack;
                const double far2 = r2 - (dyf * dyf + dzf * dzf);
                const double inner = far2 > 0.0 ? std::sqrt(far2) * (1.0 - 1e-9) - slack : -1.0;
                const int64_t row = nx * (iy + ny * iz);
                const int64_t x0 = coord(q.x - outer, 0), x1 = coord(q.x + outer, 0);
                int64_t f0 = 1, f1 = 0;  // cells wholly within [q.x - inner, q.x + inner]
                if (inner > 0.0) {
                    f0 = static_cast<int64_t>(std::ceil((q.x - inner - lo.x + slack) / cell));
                    f1 = static_cast<int64_t>(std::floor((q.x + inner - lo.x - slack) / cell)) - 1;
                    f0 = std::max(f0, x0);
                    f1 = std::min(f1, x1);
                }
                // The cells at either end of the row are tested point by
                // point; those wholly inside are counted from the prefix sums.
                const auto test_cells = [&](int64_t from, int64_t to) {
                    if (from > to) return;
                    const int k0 = start[static_cast<std::size_t>(row + from)];
                    const int k1 = start[static_cast<std::size_t>(row + to + 1)];
                    for (int k = k0; k < k1; ++k) {
                        const Vec3& p = x[static_cast<std::size_t>(sorted[std::size_t(k)])];
                        count += squared_distance(q, p) <= r2 ? 1 : 0;
                    }
                };
                if (f0 <= f1) {
                    count += start[static_cast<std::size_t>(row + f1 + 1)] -
                             start[static_cast<std::size_t>(row + f0)];
                    test_cells(x0, f0 - 1);
                    test_cells(f1 + 1, x1);
                } else {
                    test_cells(x0, x1);
                }
            }
        }
    }
    return count;
}

void sph_blast_refresh_snapshot(Model& m) {
    BlastState& b = m.blast;
    b.snapshot.fill(BlastSnapshot{});
    b.pair_count_pending.fill(false);
    const DbState& db = m.db;
    if (db.npart <= 0) return;
    ensure_masks(m);
    const bool explosive_state =
        m.explosive.explosive_reaction_progress.size() == static_cast<std::size_t>(db.npart);
    b.sources.resize(b.regions.size());
    b.targets.resize(b.regions.size());
    b.source_positions.resize(b.regions.size());
    b.target_positions.resize(b.regions.size());
    for (std::size_t r = 0; r < b.regions.size(); ++r) {
        const BlastRegion& region = b.regions[r];
        b.sources[r].clear();
        b.targets[r].clear();
        if (!region.blast_region_enabled) continue;
        BlastSnapshot& s = b.snapshot[r];
        const std::vector<unsigned char>& in_set = b.in_target_set[r];
        const double r2 = region.blast_radius * region.blast_radius;
        for (int p = 0; p < db.npart; ++p) {
            const bool is_active = db.particle_status[p] == sph_status_active;
            const bool inside = squared_distance(region.blast_center, db.x[p]) <= r2;
            const int phase = db.particle_phase[p];
            if (sph_blast_phase_matches(region.blast_source_phase, phase)) {
                if (is_active && inside) {
                    s.blast_source_count += 1;
                    s.blast_source_mass += db.mass[p];
                    s.blast_source_energy += db.mass[p] * db.internal_energy[p];
                    s.blast_source_pressure_mean += db.pressure[p];
                    b.sources[r].push_back(p);
                } else {
                    s.blast_skipped_source_count += 1;
                }
            } else if (is_active && inside) {
                s.blast_skipped_source_count += 1;
            }
            const bool in_target_set = in_set[static_cast<std::size_t>(p)] != 0;
            if (sph_blast_phase_matches(region.blast_target_phase, phase)) {
                if (is_active && in_target_set && inside) {
                    s.blast_target_count += 1;
                    b.targets[r].push_back(p);
                } else {
                    s.blast_skipped_target_count += 1;
                }
            } else if (is_active && inside && in_target_set) {
                s.blast_skipped_target_count += 1;
            }
            if (!(is_active && inside)) continue;
            if (phase == sph_phase_gas) {
                s.blast_gas_count += 1;
                s.blast_gas_volume += db.volume[p];
            } else if (phase == sph_phase_water) {
                if (s.blast_water_count == 0) {
                    s.blast_water_pressure_min = s.blast_water_pressure_max = db.pressure[p];
                } else {
                    s.blast_water_pressure_min =
                        std::min(s.blast_water_pressure_min, db.pressure[p]);
                    s.blast_water_pressure_max =
                        std::max(s.blast_water_pressure_max, db.pressure[p]);
                }
                s.blast_water_count += 1;
            } else if (phase == sph_phase_explosive && explosive_state) {
                s.blast_explosive_count += 1;
                s.blast_explosive_progress_mean +=
                    m.explosive.explosive_reaction_progress[static_cast<std::size_t>(p)];
            }
        }
        if (s.blast_source_count > 0) s.blast_source_pressure_mean /= s.blast_source_count;
        if (s.blast_explosive_count > 0) s.blast_explosive_progress_mean /= s.blast_explosive_count;
        const auto positions_of = [&](const std::vector<int>& list, std::vector<Vec3>& out) {
            out.clear();
            for (int p : list) out.push_back(db.x[static_cast<std::size_t>(p)]);
        };
        positions_of(b.sources[r], b.source_positions[r]);
        positions_of(b.targets[r], b.target_positions[r]);
        b.pair_count_pending[r] = true;
    }
}
