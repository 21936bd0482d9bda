#include "shell/sph_shell.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "core/sph_error.hpp"
#include "core/sph_format.hpp"
#include "core/sph_model.hpp"
#include "core/sph_text.hpp"

namespace {

int fail(Model& m, int code, const char* message) {
    return sph_error_set(m.error, code, message);
}

template <class T>
void release(std::vector<T>& values) {
    std::vector<T>().swap(values);
}

// 1-based index of the first entry whose name matches, 0 if none.
template <class Table>
int find_by_name(const Table& table, std::string_view name) {
    const std::string wanted = sph_text_field(name, sph_name_len);
    for (std::size_t k = 0; k < table.size(); ++k) {
        if (sph_text_name_equal(table[k].name, wanted)) return static_cast<int>(k) + 1;
    }
    return 0;
}

// An already registered name gives its index; a full table or a name the
// database does not hold gives 0.
int register_material(Model& m, std::string_view name) {
    ShellState& shell = m.shell;
    if (const int k = sph_shell_find_material(shell, name)) return k;
    if (static_cast<int>(shell.materials.size()) >= sph_shell_max_materials) return 0;
    const int index = sph_db_find_material(m.db, name);
    if (index == 0) return 0;
    ShellMaterialSlot slot;
    slot.shell_material_ids = index;
    slot.shell_material_names = m.db.materials[static_cast<std::size_t>(index - 1)].material_name;
    shell.materials.push_back(std::move(slot));
    return static_cast<int>(shell.materials.size());
}

// The slot of a setter's material: a registered shell material, else a
// database material of a shell type, registered now.
int prepare_material(Model& m, std::string_view name, ShellMaterialSlot*& slot) {
    slot = nullptr;
    int k = sph_shell_find_material(m.shell, name);
    if (k == 0) {
        const int index = sph_db_find_material(m.db, name);
        if (index == 0) return fail(m, sph_error_input, "Shell material is unknown");
        const MaterialRecord& material = m.db.materials[static_cast<std::size_t>(index - 1)];
        if (!sph_text_contains_upper(material.material_type, "SHELL")) {
            return fail(m, sph_error_input, "Shell data references non-Shell material");
        }
        k = register_material(m, name);
        if (k == 0) return fail(m, sph_error_input, "failed to register Shell material");
    }
    slot = &m.shell.materials[static_cast<std::size_t>(k - 1)];
    return sph_success;
}

bool is_active_shell(const DbState& db, int i) {
    return db.particle_status[static_cast<std::size_t>(i)] == sph_status_active &&
           db.particle_phase[static_cast<std::size_t>(i)] == sph_phase_shell;
}

// has[k] for every database material index k that an active shell particle
// carries (one pass over the particles).
std::vector<unsigned char> materials_with_active_shells(const DbState& db) {
    std::vector<unsigned char> has(db.materials.size() + 1, 0);
    for (int i = 0; i < db.npart; ++i) {
        if (!is_active_shell(db, i)) continue;
        const int mat = db.material_id[static_cast<std::size_t>(i)];
        if (mat >= 1 && mat <= static_cast<int>(db.materials.size())) {
            has[static_cast<std::size_t>(mat)] = 1;
        }
    }
    return has;
}

bool has_active_shell(const std::vector<unsigned char>& has, int material_index) {
    return material_index >= 1 && material_index < static_cast<int>(has.size()) &&
           has[static_cast<std::size_t>(material_index)] != 0;
}

int validate_section_values(Model& m, const SectionRecord& section) {
    const double t = section.section_thickness;
    if (!sph_shell_scalar_is_finite(t) || !(t > 0.0)) {
        return fail(m, sph_error_input, "Shell section thickness must be positive");
    }
    const int points = section.section_integration_points;
    if (points != 3 && points != 5) {
        return fail(m, sph_error_input, "Shell section POINTS must be 3 or 5");
    }
    const double k = section.section_shear_correction;
    if (!sph_shell_scalar_is_finite(k) || !(k > 0.0) || !(k <= 1.0)) {
        return fail(m, sph_error_input, "Shell section SHEAR_CORRECTION is invalid");
    }
    return sph_success;
}

int validate_particle_sections(Model& m) {
    const DbState& db = m.db;
    const int section_count = static_cast<int>(db.sections.size());
    for (int i = 0; i < db.npart; ++i) {
        if (!is_active_shell(db, i)) continue;
        const int sec = db.section_id[static_cast<std::size_t>(i)];
        if (sec < 1 || sec > section_count) {
            return fail(m, sph_error_input, "active Shell particle is missing Shell section");
        }
        const SectionRecord& section = db.sections[static_cast<std::size_t>(sec - 1)];
        if (!sph_text_contains_upper(section.section_type, "SHELL")) {
            return fail(m, sph_error_input, "active Shell particle is not bound to Shell section");
        }
        if (section.section_material_id != db.material_id[static_cast<std::size_t>(i)]) {
            return fail(m, sph_error_input, "active Shell particle section material mismatch");
        }
        if (const int st = validate_section_values(m, section)) return st;
    }
    return sph_success;
}

int allocate_state(Model& m) {
    ShellState& s = m.shell;
    const std::size_t n = static_cast<std::size_t>(std::max(m.db.npart, 0));
    sph_shell_release_state(s);
    try {
        s.shell_thickness.assign(n, 0.0);
        s.shell_director.assign(n, Vec3{});
        s.shell_director_status.assign(n, sph_shell_director_none);
        s.shell_reference_area.assign(n, 0.0);
        s.shell_rotational_inertia.assign(n, 0.0);
        s.shell_local_e1.assign(n, Vec3{});
        s.shell_local_e2.assign(n, Vec3{});
        s.shell_local_e3.assign(n, Vec3{});
        s.shell_local_frame_status.assign(n, sph_shell_frame_none);
        s.shell_omega.assign(n, Vec3{});
        s.shell_alpha.assign(n, Vec3{});
        s.shell_softening.assign(n, 0.0);
        s.shell_internal_energy.assign(n, 0.0);
        s.shell_failure_status.assign(n, 0);
        s.shell_ip_count.assign(n, 0);
        s.shell_ip_coord.assign(n, ShellPointValues{});
        s.shell_ip_weight.assign(n, ShellPointValues{});
        s.shell_ip_temperature.assign(n, ShellPointValues{});
        s.shell_ip_softening.assign(n, ShellPointValues{});
    } catch (const std::exception&) {
        sph_shell_release_state(s);
        return fail(m, sph_error_input, "failed to allocate Shell state");
    }
    return sph_success;
}

// The element geometry one particle sees: area-weighted normal sum and
// element share of the area.
struct ElementGeometry {
    Vec3 normal;
    double area = 0.0;
    bool normal_found = false;
    bool area_found = false;
};

// What the build made of one section: its particles by director source (the
// geometry source split into element normals and the particle cloud) and the
// sum of their reference areas in particle order.
struct SectionTally {
    int particles = 0;
    int director_set = 0;
    int orientation = 0;
    int element = 0;
    int cloud = 0;
    double area = 0.0;
};

// Per build: everything that is the same for many particles is found once.
// Set membership comes from one mask per set, element membership from one
// list of (particle, element) pairs per element set, and the cloud director
// and tangent once per section.
class ShellBuilder {
  public:
    explicit ShellBuilder(Model& m) : m_(m), db_(m.db), s_(m.shell) {}

    int prepare() {
        if (const int st = first_sets(s_.director_sets, first_director_set_)) return st;
        if (const int st = first_sets(s_.rotation_sets, first_rotation_set_)) return st;
        const std::size_t sections = db_.sections.size();
        section_particles_.assign(sections, {});
        cloud_director_.assign(sections, Lazy{});
        cloud_tangent_.assign(sections, Lazy{});
        element_pairs_.assign(db_.elsets.size(), {});
        element_pairs_built_.assign(db_.elsets.size(), 0);
        tallies_.assign(sections, SectionTally{});
        for (int i = 0; i < db_.npart; ++i) {
            if (!is_active_shell(db_, i)) continue;
            const int sec = db_.section_id[static_cast<std::size_t>(i)];
            section_particles_[static_cast<std::size_t>(sec - 1)].push_back(i);
        }
        return sph_success;
    }

    int initialize_particle(int p, int sec);
    void log_sections() const;

  private:
    struct Lazy {
        bool done = false;
        bool found = false;
        Vec3 value;
    };
    // (particle, element) in element-set member order, sorted by particle.
    using ElementPairs = std::vector<std::pair<int, int>>;

    template <class Table>
    int first_sets(const Table& table, std::vector<unsigned char>& first);
    const ElementPairs& elements_of_section(int sec);
    std::pair<ElementPairs::const_iterator, ElementPairs::const_iterator> elements_containing(
        int p, int sec);
    int element_geometry(int p, int sec, ElementGeometry& g);
    int estimate_area(int p, double thickness, const ElementGeometry& g, double& area);
    int initialize_director(int p, int sec, const SectionRecord& section, double& area);
    int apply_director(int p, const Vec3& d, int source);
    int initialize_reference_measures(int p, double thickness, double area);
    int initialize_local_frame(int p, int sec, const SectionRecord& section);
    int mark_frame_degenerate(int p, const char* message);
    Vec3 frame_tangent(int p, int sec, const SectionRecord& section);
    int initialize_rotation(int p);
    const Lazy& cloud(std::vector<Lazy>& cache, int sec, bool director);

    Model& m_;
    DbState& db_;
    ShellState& s_;
    std::vector<unsigned char> first_director_set_;  // 1-based table index, 0 none
    std::vector<unsigned char> first_rotation_set_;
    std::vector<std::vector<int>> section_particles_;  // active shell particles, ascending
    std::vector<Lazy> cloud_director_;
    std::vector<Lazy> cloud_tangent_;
    std::vector<ElementPairs> element_pairs_;
    std::vector<unsigned char> element_pairs_built_;
    ElementPairs no_elements_;
    std::vector<SectionTally> tallies_;  // one per section
};

// first[p] = the first table entry (1-based) whose named set holds p: its
// node set of that name, or else its element set of that name.
template <class Table>
int ShellBuilder::first_sets(const Table& table, std::vector<unsigned char>& first) {
    if (table.empty()) return sph_success;
    const std::size_t n = static_cast<std::size_t>(db_.npart);
    std::vector<unsigned char> mask;
    try {
        first.assign(n, 0);
    } catch (const std::exception&) {
        return fail(m_, sph_error_database, "failed to allocate set membership");
    }
    for (std::size_t k = 0; k < table.size(); ++k) {
        const unsigned char entry = static_cast<unsigned char>(k + 1);
        for (bool node_set : {true, false}) {
            const int set = node_set ? sph_db_find_nset(db_, table[k].name)
                                     : sph_db_find_elset(db_, table[k].name);
            if (set == 0) continue;
            if (const int st = node_set ? sph_db_nset_particle_mask(m_, set, mask)
                                        : sph_db_elset_particle_mask(m_, set, mask)) {
                return st;
            }
            for (std::size_t p = 0; p < n; ++p) {
                if (mask[p] != 0 && first[p] == 0) first[p] = entry;
            }
        }
    }
    return sph_success;
}

const ShellBuilder::ElementPairs& ShellBuilder::elements_of_section(int sec) {
    const SectionRecord& section = db_.sections[static_cast<std::size_t>(sec - 1)];
    const int es = sph_db_find_elset(db_, section.section_name);
    if (es == 0) return no_elements_;
    const std::size_t k = static_cast<std::size_t>(es - 1);
    ElementPairs& pairs = element_pairs_[k];
    if (element_pairs_built_[k] == 0) {
        element_pairs_built_[k] = 1;
        sph_db_for_each_elset_element(db_, db_.elsets[k], [&](int e) {
            const ElementRecord& element = db_.elements[static_cast<std::size_t>(e)];
            const std::size_t first = pairs.size();
            for (int c = 0; c < element.element_conn_count; ++c) {
                const int p = sph_db_find_node(db_, element.element_conn[c]);
                if (p < 0) continue;
                // An element contains a particle once, however often its
                // connectivity names it.
                bool seen = false;
                for (std::size_t q = first; q < pairs.size() && !seen; ++q) {
                    seen = pairs[q].first == p;
                }
                if (!seen) pairs.emplace_back(p, e);
            }
            return true;
        });
        // Sorted by particle; member order kept within a particle.
        std::stable_sort(pairs.begin(), pairs.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    return pairs;
}

std::pair<ShellBuilder::ElementPairs::const_iterator, ShellBuilder::ElementPairs::const_iterator>
ShellBuilder::elements_containing(int p, int sec) {
    const ElementPairs& pairs = elements_of_section(sec);
    return std::equal_range(pairs.begin(), pairs.end(), std::pair<int, int>{p, 0},
                            [](const auto& a, const auto& b) { return a.first < b.first; });
}

int ShellBuilder::element_geometry(int p, int sec, ElementGeometry& g) {
    g = ElementGeometry{};
    const auto [begin, end] = elements_containing(p, sec);
    for (auto it = begin; it != end; ++it) {
        const ElementRecord& element = db_.elements[static_cast<std::size_t>(it->second)];
        const int count = element.element_conn_count;
        Vec3 area_vector;
        if (count >= 3) {
            Vec3 x[4];
            for (int c = 0; c < std::min(count, 4); ++c) {
                const int q = sph_db_find_node(db_, element.element_conn[c]);
                if (q < 0)
                    return fail(m_, sph_error_input, "Shell element references unknown node");
                x[c] = db_.x0[static_cast<std::size_t>(q)];
            }
            area_vector = sph_shell_triangle_area_vector(x[0], x[1], x[2]);
            if (count >= 4) area_vector += sph_shell_triangle_area_vector(x[0], x[2], x[3]);
        }
        const double a = norm(area_vector);
        if (a > sph_shell_eps) {
            g.normal += area_vector;
            g.area += a / count;
            g.normal_found = true;
            g.area_found = true;
        } else if (count > 2) {
            ++s_.diagnostics.shell_area_degenerate_count;
        }
    }
    return sph_success;
}

int ShellBuilder::estimate_area(int p, double thickness, const ElementGeometry& g, double& area) {
    if (g.area_found) {
        area = g.area;
    } else if (thickness > sph_shell_eps) {
        area = db_.volume[static_cast<std::size_t>(p)] / thickness;
    } else {
        area = 0.0;
    }
    if (!sph_shell_scalar_is_finite(area) || !(area > sph_shell_eps)) {
        ++s_.diagnostics.shell_area_degenerate_count;
        return fail(m_, sph_error_input, "Shell reference area is degenerate");
    }
    return sph_success;
}

const ShellBuilder::Lazy& ShellBuilder::cloud(std::vector<Lazy>& cache, int sec, bool director) {
    Lazy& c = cache[static_cast<std::size_t>(sec - 1)];
    if (!c.done) {
        c.done = true;
        const std::vector<int>& list = section_particles_[static_cast<std::size_t>(sec - 1)];
        c.found = director ? sph_shell_infer_cloud_director(db_, list, c.value)
                           : sph_shell_find_cloud_tangent(db_, list, c.value);
    }
    return c;
}

int ShellBuilder::apply_director(int p, const Vec3& d, int source) {
    const std::size_t k = static_cast<std::size_t>(p);
    const char* message = nullptr;
    Vec3 unit;
    if (!sph_shell_vector_is_finite(d)) {
        message = "Shell director is not finite";
    } else if (!sph_shell_normalize_vector(d, unit)) {
        message = "Shell director is degenerate";
    }
    if (message != nullptr) {
        ++s_.diagnostics.shell_director_degenerate_count;
        s_.shell_director_status[k] = sph_shell_director_degenerate;
        return fail(m_, sph_error_input, message);
    }
    ShellDiagnostics& diag = s_.diagnostics;
    diag.shell_director_max_length_error =
        std::max(diag.shell_director_max_length_error, std::fabs(norm(d) - 1.0));
    s_.shell_director[k] = unit;
    s_.shell_director_status[k] = source;
    return sph_success;
}

// Director set first, then the section's orientation, else the geometry;
// then the reference area (element share, else volume / thickness).
int ShellBuilder::initialize_director(int p, int sec, const SectionRecord& section, double& area) {
    const std::size_t k = static_cast<std::size_t>(p);
    const double t = section.section_thickness;
    area = 0.0;
    ElementGeometry g;
    bool geometry_done = false;
    Vec3 d;
    int source = sph_shell_director_none;
    int SectionTally::*counter = nullptr;
    const int set = first_director_set_.empty() ? 0 : first_director_set_[k];
    if (set > 0) {
        ShellDirectorSet& entry = s_.director_sets[static_cast<std::size_t>(set - 1)];
        entry.used = true;
        d = entry.director;
        source = sph_shell_director_input;
        counter = &SectionTally::director_set;
    } else if (sph_text_is_blank(section.section_orientation_name)) {
        if (const int st = element_geometry(p, sec, g)) return st;
        geometry_done = true;
        if (g.normal_found) {
            d = g.normal;
            counter = &SectionTally::element;
        } else {
            const Lazy& c = cloud(cloud_director_, sec, true);
            if (!c.found) {
                ++s_.diagnostics.shell_director_degenerate_count;
                return fail(m_, sph_error_input,
                            "active Shell particle director cannot be inferred");
            }
            d = c.value;
            counter = &SectionTally::cloud;
        }
        if (g.area_found) {
            area = g.area;
        } else if (const int st = estimate_area(p, t, g, area)) {
            return st;
        }
        source = sph_shell_director_geometry;
    } else {
        const int o = sph_shell_find_orientation(s_, section.section_orientation_name);
        if (o == 0)
            return fail(m_, sph_error_input, "Shell section references unknown orientation");
        ShellOrientation& entry = s_.orientations[static_cast<std::size_t>(o - 1)];
        entry.used = true;
        d = entry.director;
        source = sph_shell_director_orientation;
        counter = &SectionTally::orientation;
    }
    if (const int st = apply_director(p, d, source)) return st;
    if (!(area > sph_shell_eps)) {
        if (!geometry_done) {
            if (const int st = element_geometry(p, sec, g)) return st;
        }
        if (const int st = estimate_area(p, t, g, area)) return st;
    }
    s_.shell_reference_area[k] = area;
    ++(tallies_[static_cast<std::size_t>(sec - 1)].*counter);
    return sph_success;
}

int ShellBuilder::initialize_reference_measures(int p, double thickness, double area) {
    const std::size_t k = static_cast<std::size_t>(p);
    if (!sph_shell_scalar_is_finite(area) || !(area > sph_shell_eps)) {
        ++s_.diagnostics.shell_area_degenerate_count;
        return fail(m_, sph_error_input, "Shell reference area is degenerate");
    }
    const double inertia = db_.mass[k] * thickness * thickness / 12.0;
    if (!sph_shell_scalar_is_finite(inertia) || !(inertia > sph_shell_eps)) {
        ++s_.diagnostics.shell_inertia_degenerate_count;
        return fail(m_, sph_error_input, "Shell rotational inertia is degenerate");
    }
    s_.shell_rotational_inertia[k] = inertia;
    return sph_success;
}

// The section's orientation tangent, else the first edge of the first
// element holding p, else the section's cloud tangent, else x (y when the
// director is close to x).
Vec3 ShellBuilder::frame_tangent(int p, int sec, const SectionRecord& section) {
    if (!sph_text_is_blank(section.section_orientation_name)) {
        if (const int o = sph_shell_find_orientation(s_, section.section_orientation_name)) {
            return s_.orientations[static_cast<std::size_t>(o - 1)].tangent;
        }
    }
    const auto [begin, end] = elements_containing(p, sec);
    for (auto it = begin; it != end; ++it) {
        const ElementRecord& element = db_.elements[static_cast<std::size_t>(it->second)];
        if (element.element_conn_count < 2) continue;
        const int q1 = sph_db_find_node(db_, element.element_conn[0]);
        const int q2 = sph_db_find_node(db_, element.element_conn[1]);
        if (q1 < 0 || q2 < 0) continue;
        const Vec3 t = db_.x0[static_cast<std::size_t>(q2)] - db_.x0[static_cast<std::size_t>(q1)];
        if (norm(t) > sph_shell_eps) return t;
    }
    if (const Lazy& c = cloud(cloud_tangent_, sec, false); c.found) return c.value;
    return sph_shell_choose_fallback_tangent(s_.shell_local_e3[static_cast<std::size_t>(p)]);
}

int ShellBuilder::mark_frame_degenerate(int p, const char* message) {
    ++s_.diagnostics.shell_local_frame_degenerate_count;
    s_.shell_local_frame_status[static_cast<std::size_t>(p)] = sph_shell_frame_degenerate;
    return fail(m_, sph_error_input, message);
}

int ShellBuilder::initialize_local_frame(int p, int sec, const SectionRecord& section) {
    const std::size_t k = static_cast<std::size_t>(p);
    Vec3 e3, e1, e2;
    if (!sph_shell_normalize_vector(s_.shell_director[k], e3)) {
        return mark_frame_degenerate(p, "Shell local frame director is degenerate");
    }
    s_.shell_local_e3[k] = e3;  // the fallback tangent reads it
    const Vec3 t = frame_tangent(p, sec, section);
    if (!sph_shell_normalize_vector(t - dot(t, e3) * e3, e1)) {
        return mark_frame_degenerate(p, "Shell local frame tangent is degenerate");
    }
    if (!sph_shell_normalize_vector(cross(e3, e1), e2)) {
        return mark_frame_degenerate(p, "Shell local frame normal is degenerate");
    }
    if (!sph_shell_validate_local_frame(e1, e2, e3)) {
        return mark_frame_degenerate(p, "Shell local frame is not orthonormal");
    }
    s_.shell_local_e1[k] = e1;
    s_.shell_local_e2[k] = e2;
    s_.shell_local_frame_status[k] = sph_shell_frame_ok;
    return sph_success;
}

int ShellBuilder::initialize_rotation(int p) {
    const std::size_t k = static_cast<std::size_t>(p);
    Vec3 omega, alpha;
    const int set = first_rotation_set_.empty() ? 0 : first_rotation_set_[k];
    if (set > 0) {
        ShellRotationSet& entry = s_.rotation_sets[static_cast<std::size_t>(set - 1)];
        entry.used = true;
        omega = entry.omega;
        alpha = entry.alpha;
    }
    if (!sph_shell_vector_is_finite(omega)) {
        return fail(m_, sph_error_input, "Shell angular velocity is not finite");
    }
    if (!sph_shell_vector_is_finite(alpha)) {
        return fail(m_, sph_error_input, "Shell angular acceleration is not finite");
    }
    s_.shell_omega[k] = omega;
    s_.shell_alpha[k] = alpha;
    ShellDiagnostics& diag = s_.diagnostics;
    diag.shell_max_angular_velocity = std::max(diag.shell_max_angular_velocity, norm(omega));
    return sph_success;
}

int ShellBuilder::initialize_particle(int p, int sec) {
    const std::size_t k = static_cast<std::size_t>(p);
    const SectionRecord& section = db_.sections[static_cast<std::size_t>(sec - 1)];
    const double t = section.section_thickness;
    s_.shell_thickness[k] = t;
    double area = 0.0;
    if (const int st = initialize_director(p, sec, section, area)) return st;
    if (const int st = initialize_reference_measures(p, t, area)) return st;
    if (const int st = initialize_local_frame(p, sec, section)) return st;
    if (const int st = initialize_rotation(p)) return st;
    s_.shell_internal_energy[k] = db_.internal_energy[k];
    s_.shell_softening[k] = 1.0;
    s_.shell_failure_status[k] = 0;
    const int points = section.section_integration_points;
    s_.shell_ip_count[k] = points;
    if (const int st = sph_shell_set_integration_rule(m_.error, points, s_.shell_ip_coord[k],
                                                      s_.shell_ip_weight[k])) {
        return st;
    }
    for (int q = 0; q < points; ++q) {
        s_.shell_ip_temperature[k][static_cast<std::size_t>(q)] = db_.temperature[k];
        s_.shell_ip_softening[k][static_cast<std::size_t>(q)] = 1.0;
    }
    SectionTally& tally = tallies_[static_cast<std::size_t>(sec - 1)];
    ++tally.particles;
    tally.area += s_.shell_reference_area[k];
    return sph_success;
}

// One line per shell section, the only place this line is defined:
//   shell section ID particles N director_set A orientation B element C cloud D area REAL name NAME
// ID is the 1-based section index, REAL the file form without its leading
// blanks; the name (the section's set, which may hold blanks) comes last so
// that everything after "name " is the name.
void ShellBuilder::log_sections() const {
    if (!m_.log.sph_log_is_open) return;
    for (std::size_t k = 0; k < db_.sections.size(); ++k) {
        const SectionRecord& section = db_.sections[k];
        if (!sph_text_contains_upper(section.section_type, "SHELL")) continue;
        const SectionTally& t = tallies_[k];
        char area[sph_format_real_width];
        const char* area_end = sph_format_real_trimmed(area, t.area);
        std::string line = "shell section ";
        line += sph_format_int_string(static_cast<int>(k) + 1);
        line += " particles ";
        line += sph_format_int_string(t.particles);
        line += " director_set ";
        line += sph_format_int_string(t.director_set);
        line += " orientation ";
        line += sph_format_int_string(t.orientation);
        line += " element ";
        line += sph_format_int_string(t.element);
        line += " cloud ";
        line += sph_format_int_string(t.cloud);
        line += " area ";
        line.append(area, static_cast<std::size_t>(area_end - area));
        line += " name ";
        line += sph_text_trim_trailing(section.section_name);
        sph_log_info(m_.log, line);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Life cycle

void sph_shell_initialize(ShellState& shell) {
    shell = ShellState{};
    shell.shell_module_initialized = true;
}

void sph_shell_reset(ShellState& shell) {
    shell = ShellState{};
}

void sph_shell_release_state(ShellState& s) {
    release(s.shell_thickness);
    release(s.shell_director);
    release(s.shell_director_status);
    release(s.shell_reference_area);
    release(s.shell_rotational_inertia);
    release(s.shell_local_e1);
    release(s.shell_local_e2);
    release(s.shell_local_e3);
    release(s.shell_local_frame_status);
    release(s.shell_omega);
    release(s.shell_alpha);
    release(s.shell_softening);
    release(s.shell_internal_energy);
    release(s.shell_failure_status);
    release(s.shell_ip_count);
    release(s.shell_ip_coord);
    release(s.shell_ip_weight);
    release(s.shell_ip_temperature);
    release(s.shell_ip_softening);
}

int sph_shell_find_material(const ShellState& shell, std::string_view name) {
    const std::string wanted = sph_text_field(name, sph_name_len);
    for (std::size_t k = 0; k < shell.materials.size(); ++k) {
        if (sph_text_name_equal(shell.materials[k].shell_material_names, wanted)) {
            return static_cast<int>(k) + 1;
        }
    }
    return 0;
}

int sph_shell_find_orientation(const ShellState& shell, std::string_view name) {
    return find_by_name(shell.orientations, name);
}

// ---------------------------------------------------------------------------
// Deck receivers

void sph_shell_note_material(Model& m, std::string_view name, std::string_view material_type) {
    if (!sph_text_contains_upper(material_type, "SHELL")) return;
    m.shell.shell_material_seen = true;
    (void)register_material(m, name);  // a full table or unknown name registers nothing
}

int sph_shell_set_elastic(Model& m, std::string_view material_name, double e_value,
                          double nu_value) {
    if (!sph_shell_scalar_is_finite(e_value) || !sph_shell_scalar_is_finite(nu_value)) {
        return fail(m, sph_error_argument, "Shell elastic parameter is not finite");
    }
    if (!(e_value > 0.0)) {
        return fail(m, sph_error_argument, "Shell elastic modulus must be positive");
    }
    if (!(nu_value > -1.0 && nu_value < 0.5)) {
        return fail(m, sph_error_argument, "Shell Poisson ratio is invalid");
    }
    ShellMaterialSlot* s = nullptr;
    if (const int st = prepare_material(m, material_name, s)) return st;
    s->shell_elastic_e = e_value;
    s->shell_elastic_nu = nu_value;
    s->shell_elastic_defined = true;
    return sph_success;
}

int sph_shell_set_johnson_cook(Model& m, std::string_view material_name,
                               const SolidJohnsonCook& jc) {
    for (double v : {jc.a, jc.b, jc.n, jc.c, jc.m, jc.epsdot0, jc.troom, jc.tmelt}) {
        if (!sph_shell_scalar_is_finite(v)) {
            return fail(m, sph_error_argument, "Shell Johnson-Cook flow parameter is not finite");
        }
    }
    if (jc.a < 0.0 || jc.b < 0.0 || jc.n < 0.0) {
        return fail(m, sph_error_argument, "Shell Johnson-Cook strength is invalid");
    }
    if (jc.m < 0.0 || jc.c < 0.0) {
        return fail(m, sph_error_argument,
                    "Shell Johnson-Cook rate or thermal exponent is invalid");
    }
    if (!(jc.epsdot0 > 0.0)) {
        return fail(m, sph_error_argument,
                    "Shell Johnson-Cook reference strain rate must be positive");
    }
    if (!(jc.tmelt > jc.troom)) {
        return fail(m, sph_error_argument,
                    "Shell Johnson-Cook melt temperature must exceed room temperature");
    }
    ShellMaterialSlot* s = nullptr;
    if (const int st = prepare_material(m, material_name, s)) return st;
    s->jc = jc;
    s->shell_johnson_cook_defined = true;
    return sph_success;
}

int sph_shell_set_failure(Model& m, std::string_view material_name,
                          const std::array<double, 5>& d_values) {
    for (double v : d_values) {
        if (!sph_shell_scalar_is_finite(v)) {
            return fail(m, sph_error_argument,
                        "Shell Johnson-Cook failure parameter is not finite");
        }
    }
    ShellMaterialSlot* s = nullptr;
    if (const int st = prepare_material(m, material_name, s)) return st;
    s->shell_failure_d = d_values;
    s->shell_failure_defined = true;
    return sph_success;
}

int sph_shell_set_control(Model& m, std::string_view material_name, std::string_view softening_name,
                          double width) {
    std::string type = sph_text_upper(sph_text_trim(softening_name));
    if (type.empty()) type = "LINEAR";
    if (type.find("LINEAR") == std::string::npos) {
        return fail(m, sph_error_input, "Shell SOFTENING must be LINEAR");
    }
    if (!sph_shell_scalar_is_finite(width)) {
        return fail(m, sph_error_argument, "Shell softening WIDTH is not finite");
    }
    if (!(width > 0.0))
        return fail(m, sph_error_argument, "Shell softening WIDTH must be positive");
    ShellMaterialSlot* s = nullptr;
    if (const int st = prepare_material(m, material_name, s)) return st;
    s->shell_softening_type = sph_text_field(type, sph_name_len);
    s->shell_softening_width = width;
    s->shell_control_defined = true;
    return sph_success;
}

int sph_shell_add_orientation(Model& m, std::string_view name, const Vec3& director,
                              const Vec3& tangent) {
    if (sph_text_is_blank(name))
        return fail(m, sph_error_input, "Shell orientation is missing NAME");
    if (!sph_shell_vector_is_finite(director)) {
        return fail(m, sph_error_input, "Shell orientation director is not finite");
    }
    if (!sph_shell_vector_is_finite(tangent)) {
        return fail(m, sph_error_input, "Shell orientation tangent is not finite");
    }
    Vec3 d, t, t_perp;
    if (!sph_shell_normalize_vector(director, d)) {
        return fail(m, sph_error_input, "Shell orientation director is degenerate");
    }
    if (!sph_shell_normalize_vector(tangent, t)) {
        return fail(m, sph_error_input, "Shell orientation tangent is degenerate");
    }
    if (!sph_shell_normalize_vector(t - dot(t, d) * d, t_perp)) {
        return fail(m, sph_error_input, "Shell orientation vectors are parallel");
    }
    ShellState& shell = m.shell;
    int k = sph_shell_find_orientation(shell, name);
    if (k == 0) {
        if (static_cast<int>(shell.orientations.size()) >= sph_shell_max_orientations) {
            return fail(m, sph_error_input, "too many Shell orientation records");
        }
        shell.orientations.emplace_back();
        k = static_cast<int>(shell.orientations.size());
    }
    ShellOrientation& entry = shell.orientations[static_cast<std::size_t>(k - 1)];
    entry.name = sph_text_field(name, sph_name_len);
    entry.director = director;
    entry.tangent = t_perp;
    entry.used = false;
    return sph_success;
}

int sph_shell_set_director_for_set(Model& m, std::string_view set_name, const Vec3& director) {
    if (sph_text_is_blank(set_name))
        return fail(m, sph_error_input, "Shell director is missing SET");
    if (!sph_shell_vector_is_finite(director)) {
        return fail(m, sph_error_input, "Shell director is not finite");
    }
    if (!(norm(director) > sph_shell_eps)) {
        return fail(m, sph_error_input, "Shell director is degenerate");
    }
    ShellState& shell = m.shell;
    int k = find_by_name(shell.director_sets, set_name);
    if (k == 0) {
        if (static_cast<int>(shell.director_sets.size()) >= sph_shell_max_director_sets) {
            return fail(m, sph_error_input, "too many Shell director set records");
        }
        shell.director_sets.emplace_back();
        k = static_cast<int>(shell.director_sets.size());
    }
    ShellDirectorSet& entry = shell.director_sets[static_cast<std::size_t>(k - 1)];
    entry.name = sph_text_field(set_name, sph_name_len);
    entry.director = director;
    entry.used = false;
    return sph_success;
}

int sph_shell_set_rotation_for_set(Model& m, std::string_view set_name, const Vec3& omega,
                                   const Vec3& alpha) {
    if (sph_text_is_blank(set_name))
        return fail(m, sph_error_input, "Shell rotation is missing SET");
    if (!sph_shell_vector_is_finite(omega)) {
        return fail(m, sph_error_input, "Shell angular velocity is not finite");
    }
    if (!sph_shell_vector_is_finite(alpha)) {
        return fail(m, sph_error_input, "Shell angular acceleration is not finite");
    }
    ShellState& shell = m.shell;
    int k = find_by_name(shell.rotation_sets, set_name);
    if (k == 0) {
        if (static_cast<int>(shell.rotation_sets.size()) >= sph_shell_max_rotation_sets) {
            return fail(m, sph_error_input, "too many Shell rotation set records");
        }
        shell.rotation_sets.emplace_back();
        k = static_cast<int>(shell.rotation_sets.size());
    }
    ShellRotationSet& entry = shell.rotation_sets[static_cast<std::size_t>(k - 1)];
    entry.name = sph_text_field(set_name, sph_name_len);
    entry.omega = omega;
    entry.alpha = alpha;
    entry.used = false;
    return sph_success;
}

// ---------------------------------------------------------------------------
// Model build

bool sph_shell_particle_is_active_section(const DbState& db, int index, int sec) {
    return index >= 0 && index < db.npart && is_active_shell(db, index) &&
           db.section_id[static_cast<std::size_t>(index)] == sec;
}

int sph_shell_validate_input(Model& m) {
    const DbState& db = m.db;
    const std::vector<unsigned char> has = materials_with_active_shells(db);
    for (const ShellMaterialSlot& s : m.shell.materials) {
        if (!has_active_shell(has, s.shell_material_ids)) continue;
        const MaterialRecord& material =
            db.materials[static_cast<std::size_t>(s.shell_material_ids - 1)];
        if (!(material.material_density > 0.0)) {
            return fail(m, sph_error_input, "active Shell material is missing density");
        }
        if (!s.shell_elastic_defined) {
            return fail(m, sph_error_input, "active Shell material is missing elastic data");
        }
        if (s.shell_failure_defined && !s.shell_johnson_cook_defined) {
            return fail(m, sph_error_input, "Shell failure requires Johnson-Cook flow data");
        }
    }
    return validate_particle_sections(m);
}

int sph_shell_build_state(Model& m) {
    ShellState& s = m.shell;
    if (!s.shell_material_seen) {
        sph_shell_release_state(s);
        return sph_success;
    }
    if (const int st = sph_shell_validate_input(m)) return st;
    s.diagnostics = ShellDiagnostics{};
    for (ShellOrientation& o : s.orientations) o.used = false;
    for (ShellDirectorSet& d : s.director_sets) d.used = false;
    for (ShellRotationSet& r : s.rotation_sets) r.used = false;
    if (const int st = allocate_state(m)) return st;
    ShellBuilder builder(m);
    try {
        if (const int st = builder.prepare()) return st;
    } catch (const std::exception&) {
        return fail(m, sph_error_input, "failed to allocate Shell state");
    }
    const DbState& db = m.db;
    for (int i = 0; i < db.npart; ++i) {
        if (!is_active_shell(db, i)) continue;
        if (const int st =
                builder.initialize_particle(i, db.section_id[static_cast<std::size_t>(i)])) {
            return st;
        }
    }
    builder.log_sections();
    return sph_success;
}

int sph_shell_count_unbound_materials(const Model& m) {
    const std::vector<unsigned char> has = materials_with_active_shells(m.db);
    int count = 0;
    for (const ShellMaterialSlot& s : m.shell.materials) {
        if (!has_active_shell(has, s.shell_material_ids)) ++count;
    }
    return count;
}

int sph_shell_count_unused_orientations(const Model& m) {
    int count = 0;
    for (const ShellOrientation& o : m.shell.orientations) {
        if (!o.used) ++count;
    }
    return count;
}
