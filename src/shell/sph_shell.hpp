#pragma once
// Shell particles: the material table and its setters, the orientation,
// director-set and rotation-set tables, validation, and the per-particle
// state the build sets up (thickness, unit director, reference area,
// rotational inertia, orthonormal local frame, initial rotation and the
// through-thickness integration rule). The coupling interface reads the
// director and the reference area as the normal and area of a facet.

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "core/sph_vec3.hpp"
#include "solid/sph_solid_material.hpp"

struct Model;
struct DbState;
struct ErrorState;

inline constexpr int sph_shell_max_materials = 32;
inline constexpr int sph_shell_max_orientations = 32;
inline constexpr int sph_shell_max_director_sets = 32;
inline constexpr int sph_shell_max_rotation_sets = 32;
inline constexpr int sph_shell_max_integration_points = 5;
inline constexpr double sph_shell_eps = 1e-12;

// Where a particle's director came from.
inline constexpr int sph_shell_director_none = 0;
inline constexpr int sph_shell_director_input = 1;  // director set
inline constexpr int sph_shell_director_orientation = 2;
inline constexpr int sph_shell_director_geometry = 3;  // elements or particle cloud
inline constexpr int sph_shell_director_degenerate = -1;

inline constexpr int sph_shell_frame_none = 0;
inline constexpr int sph_shell_frame_ok = 1;
inline constexpr int sph_shell_frame_degenerate = -1;

// One value per integration point; slots beyond the point count stay 0.
using ShellPointValues = std::array<double, sph_shell_max_integration_points>;

// One slot of the material table; its position + 1 is the shell index.
struct ShellMaterialSlot {
    int shell_material_ids = 0;  // 1-based database material index
    std::string shell_material_names;
    bool shell_elastic_defined = false;
    bool shell_johnson_cook_defined = false;
    bool shell_failure_defined = false;
    bool shell_control_defined = false;
    double shell_elastic_e = 0.0;
    double shell_elastic_nu = 0.0;
    SolidJohnsonCook jc;  // A, B, n, C, m, epsdot0 (1), Troom (293.15), Tmelt (1793)
    std::array<double, 5> shell_failure_d{};
    std::string shell_softening_type;
    double shell_softening_width = 0.0;
};

struct ShellOrientation {
    std::string name;
    Vec3 director;  // as entered
    Vec3 tangent;   // unit, orthogonal to the director
    bool used = false;
};

struct ShellDirectorSet {
    std::string name;  // a node-set or element-set name
    Vec3 director;     // as entered
    bool used = false;
};

struct ShellRotationSet {
    std::string name;
    Vec3 omega;
    Vec3 alpha;
    bool used = false;
};

struct ShellDiagnostics {
    int shell_director_degenerate_count = 0;
    int shell_local_frame_degenerate_count = 0;
    int shell_area_degenerate_count = 0;
    int shell_inertia_degenerate_count = 0;
    double shell_director_max_length_error = 0.0;  // largest | |d| - 1 | before normalization
    double shell_max_angular_velocity = 0.0;       // largest |omega| over built particles
};

struct ShellState {
    bool shell_module_initialized = false;
    bool shell_material_seen = false;
    std::vector<ShellMaterialSlot> materials;  // shell_material_count = size()
    std::vector<ShellOrientation> orientations;
    std::vector<ShellDirectorSet> director_sets;
    std::vector<ShellRotationSet> rotation_sets;
    ShellDiagnostics diagnostics;

    // Per-particle state: npart entries each when a shell material was seen,
    // none otherwise; entries of other particles stay 0.
    std::vector<double> shell_thickness;
    std::vector<Vec3> shell_director;
    std::vector<int> shell_director_status;
    std::vector<double> shell_reference_area;
    std::vector<double> shell_rotational_inertia;
    std::vector<Vec3> shell_local_e1;
    std::vector<Vec3> shell_local_e2;
    std::vector<Vec3> shell_local_e3;
    std::vector<int> shell_local_frame_status;
    std::vector<Vec3> shell_omega;
    std::vector<Vec3> shell_alpha;
    std::vector<double> shell_softening;
    std::vector<double> shell_internal_energy;
    std::vector<int> shell_failure_status;
    std::vector<int> shell_ip_count;
    std::vector<ShellPointValues> shell_ip_coord;  // fraction of the thickness, -1/2 .. 1/2
    std::vector<ShellPointValues> shell_ip_weight;
    std::vector<ShellPointValues> shell_ip_temperature;
    std::vector<ShellPointValues> shell_ip_softening;
};

// Life cycle: initialize clears the tables (library initialization and every
// deck read), reset clears them and frees the state (finalization).
void sph_shell_initialize(ShellState& shell);
void sph_shell_reset(ShellState& shell);
void sph_shell_release_state(ShellState& shell);

// Deck receivers. Material value checks fail with status 1, table and
// material look-up failures with status 4.
void sph_shell_note_material(Model& m, std::string_view name, std::string_view material_type);
[[nodiscard]] int sph_shell_set_elastic(Model& m, std::string_view material_name, double e_value,
                                        double nu_value);
[[nodiscard]] int sph_shell_set_johnson_cook(Model& m, std::string_view material_name,
                                             const SolidJohnsonCook& jc);
[[nodiscard]] int sph_shell_set_failure(Model& m, std::string_view material_name,
                                        const std::array<double, 5>& d_values);
[[nodiscard]] int sph_shell_set_control(Model& m, std::string_view material_name,
                                        std::string_view softening_name, double width);
[[nodiscard]] int sph_shell_add_orientation(Model& m, std::string_view name, const Vec3& director,
                                            const Vec3& tangent);
[[nodiscard]] int sph_shell_set_director_for_set(Model& m, std::string_view set_name,
                                                 const Vec3& director);
[[nodiscard]] int sph_shell_set_rotation_for_set(Model& m, std::string_view set_name,
                                                 const Vec3& omega, const Vec3& alpha);

// Table look-ups by name (trailing blanks dropped, case ignored): 1-based
// index of the first match, 0 if none.
int sph_shell_find_material(const ShellState& shell, std::string_view name);
int sph_shell_find_orientation(const ShellState& shell, std::string_view name);

// Model build.
bool sph_shell_particle_is_active_section(const DbState& db, int index, int sec);
[[nodiscard]] int sph_shell_validate_input(Model& m);
[[nodiscard]] int sph_shell_build_state(Model& m);
int sph_shell_count_unbound_materials(const Model& m);
int sph_shell_count_unused_orientations(const Model& m);

// ---------------------------------------------------------------------------
// Geometry (sph_shell_geometry.cpp)

// Not NaN and magnitude at most 8.988465674311579e307.
bool sph_shell_scalar_is_finite(double value);
bool sph_shell_vector_is_finite(const Vec3& value);
// v / |v|; false (and `out` untouched) when |v| <= 1e-12.
bool sph_shell_normalize_vector(const Vec3& v, Vec3& out);
// (X2 - X1) x (X3 - X1) / 2.
Vec3 sph_shell_triangle_area_vector(const Vec3& x1, const Vec3& x2, const Vec3& x3);
// Gauss-Legendre rule on [-1/2, 1/2] with weights summing to 1, for 3 or 5
// points; any other count fails with status 4 and leaves both zeroed.
[[nodiscard]] int sph_shell_set_integration_rule(ErrorState& error, int point_count,
                                                 ShellPointValues& coords,
                                                 ShellPointValues& weights);
// The cloud director of the particles `list` (ascending indices): the
// cross product (X_j - X_i) x (X_k - X_i) of the first triple i < j < k with
// a norm above 1e-12; false when there is none.
bool sph_shell_infer_cloud_director(const DbState& db, const std::vector<int>& list,
                                    Vec3& director);
// The cloud tangent: X_j - X_i of the first pair i < j of `list` whose
// distance exceeds 1e-12; false when there is none.
bool sph_shell_find_cloud_tangent(const DbState& db, const std::vector<int>& list, Vec3& tangent);
// (1, 0, 0), or (0, 1, 0) when |e3 . (1, 0, 0)| > 0.9.
Vec3 sph_shell_choose_fallback_tangent(const Vec3& e3);
// All finite, unit lengths within 1e-8, pairwise dot products within 1e-8
// and e3 . (e1 x e2) >= 0.99999999.
bool sph_shell_validate_local_frame(const Vec3& e1, const Vec3& e2, const Vec3& e3);
