#include "input/sph_input_reader.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "core/sph_model.hpp"
#include "core/sph_number.hpp"
#include "core/sph_text.hpp"
#include "input/sph_inp_helpers.hpp"
#include "input/sph_input_time.hpp"

namespace {

constexpr double sph_input_real_limit = 8.988465674311579e307;
constexpr double sph_input_default_shear_correction = 5.0 / 6.0;

// A line whose 64 fields do not hold all of it.
bool drops_fields(std::string_view line, const SphCsvFields& fields) {
    return fields.count == sph_inp_max_fields &&
           std::count(line.begin(), line.end(), ',') >= sph_inp_max_fields;
}

// ---------------------------------------------------------------------------
// Material look-ups at the moment a line is read.

const MaterialRecord* find_material(const Model& m, std::string_view name) {
    // The database holds names cut to 64 characters; look them up the same way.
    int index = sph_db_find_material(m.db, sph_text_field(name, sph_name_len));
    return index > 0 ? &m.db.materials[static_cast<std::size_t>(index - 1)] : nullptr;
}

bool material_type_is_shell(const Model& m, std::string_view name) {
    const MaterialRecord* mat = find_material(m, name);
    return mat != nullptr && sph_text_contains_upper(mat->material_type, "SHELL");
}

// Not blank, neither UNSPECIFIED nor SOLID, and one of the other phase words.
bool is_explicit_non_solid_type(std::string_view type) {
    if (sph_text_is_blank(type)) return false;
    std::string upper = sph_inp_upper(type);
    auto has = [&](std::string_view word) { return upper.find(word) != std::string::npos; };
    if (has("UNSPECIFIED") || has("SOLID")) return false;
    return has("WATER") || has("GAS") || has("EXPLOSIVE") || has("SHELL") || has("BOUNDARY");
}

// ---------------------------------------------------------------------------
// Data lines.

int parse_node(Model& m, const SphCsvFields& f, int particle_number) {
    if (f.count < 4) return sph_input_set_error(m, "invalid *NODE record");
    int id = 0;
    Vec3 xyz;
    if (!sph_number_read_int(f.field[0], id)) return sph_input_set_error(m, "invalid node id");
    if (!sph_number_read_real(f.field[1], xyz.x)) {
        return sph_input_set_error(m, "invalid node x coordinate");
    }
    if (!sph_number_read_real(f.field[2], xyz.y)) {
        return sph_input_set_error(m, "invalid node y coordinate");
    }
    if (!sph_number_read_real(f.field[3], xyz.z)) {
        return sph_input_set_error(m, "invalid node z coordinate");
    }
    return sph_db_set_node(m, particle_number - 1, id, xyz);
}

int parse_element(Model& m, const SphCsvFields& f) {
    if (f.count < 2) return sph_input_set_error(m, "invalid *ELEMENT record");
    int id = 0;
    if (!sph_number_read_int(f.field[0], id)) return sph_input_set_error(m, "invalid element id");
    int conn[sph_max_element_nodes] = {};
    int nconn = f.count - 1 < sph_max_element_nodes ? f.count - 1 : sph_max_element_nodes;
    if (f.count - 1 > sph_max_element_nodes) {
        sph_input_warn(m,
                       "node ids after the 8th of element " + std::to_string(id) + " are ignored");
    }
    for (int k = 0; k < nconn; ++k) {
        if (!sph_number_read_int(f.field[static_cast<std::size_t>(k + 1)], conn[k])) {
            return sph_input_set_error(m, "invalid element connectivity");
        }
    }
    return sph_db_add_element(m, id, m.input.active_element_type, nconn, conn);
}

int parse_set_members(Model& m, const SphCsvFields& f, bool node_set) {
    int members[sph_inp_max_fields] = {};
    for (int k = 0; k < f.count; ++k) {
        if (!sph_number_read_int(f.field[static_cast<std::size_t>(k)], members[k])) {
            return sph_input_set_error(m, "invalid set member id");
        }
    }
    if (node_set) return sph_db_add_nset(m, m.input.active_nset_name, f.count, members);
    return sph_db_add_elset(m, m.input.active_elset_name, f.count, members);
}

// One "first, last[, increment]" line of a generated set: the range joins the
// set record of the latest *NSET or *ELSET keyword, created by its first line.
int parse_generated_range(Model& m, const SphCsvFields& f, bool node_set) {
    const std::string_view keyword = node_set ? "*NSET" : "*ELSET";
    const auto fail = [&](std::string_view what) {
        return sph_input_set_error(m, std::string(keyword) + " GENERATE " + std::string(what));
    };
    if (f.count < 2 || f.count > 3) {
        return sph_input_set_error(m, "invalid " + std::string(keyword) + " GENERATE record");
    }
    SetRange range;
    if (!sph_number_read_int(f.field[0], range.first) ||
        !sph_number_read_int(f.field[1], range.last) ||
        (f.count == 3 && !sph_number_read_int(f.field[2], range.increment))) {
        return sph_input_set_error(m, "invalid " + std::string(keyword) + " GENERATE value");
    }
    if (range.increment <= 0) return fail("increment must be positive");
    if (range.last < range.first) return fail("last id is below the first");
    InputState& in = m.input;
    int& record = node_set ? in.active_generated_nset : in.active_generated_elset;
    std::vector<SetRecord>& sets = node_set ? m.db.nsets : m.db.elsets;
    if (record == 0) {
        const int status = node_set ? sph_db_add_generated_nset(m, in.active_nset_name)
                                    : sph_db_add_generated_elset(m, in.active_elset_name);
        if (status != sph_success) return status;
        record = static_cast<int>(sets.size());
    }
    const int64_t held = sets[static_cast<std::size_t>(record - 1)].member_count;
    if (sph_db_set_range_size(range) > INT_MAX - held) {
        return fail("set has more than 2147483647 members");
    }
    return sph_db_add_set_range(m, node_set, record, range);
}

// "node id or node-set name, degree of freedom, value". Nodes and sets are
// looked up at build, so the lines may precede the nodes they name.
int parse_initial_velocity(Model& m, const SphCsvFields& f) {
    if (f.count < 3 || f.field[0].empty() || f.field[1].empty() || f.field[2].empty()) {
        return sph_input_set_error(m, "invalid *INITIAL CONDITIONS record");
    }
    InitialVelocityRecord record;
    record.line = m.input.input_current_line;
    if (!sph_number_read_int(f.field[1], record.dof) || record.dof < 1 || record.dof > 3) {
        return sph_input_set_error(m, "invalid initial velocity degree of freedom");
    }
    if (!sph_number_read_real(f.field[2], record.value) ||
        !sph_input_real_is_finite(record.value)) {
        return sph_input_set_error(m, "invalid initial velocity value");
    }
    DbState& db = m.db;
    if (!sph_number_read_int(f.field[0], record.node_id)) {
        std::string name = sph_text_field(f.field[0], sph_name_len);
        std::string key = sph_text_upper(name);
        auto [it, added] = m.input.initial_velocity_set_keys.try_emplace(
            key, static_cast<int>(db.initial_velocity_set_names.size()));
        if (added) db.initial_velocity_set_names.push_back(std::move(name));
        record.set_name_index = it->second;
        record.node_id = 0;
    }
    db.initial_velocities.push_back(record);
    return sph_success;
}

int parse_density(Model& m, const SphCsvFields& f) {
    if (f.count < 1) return sph_input_set_error(m, "invalid *DENSITY record");
    double density = 0.0;
    if (!sph_number_read_real(f.field[0], density)) {
        return sph_input_set_error(m, "invalid density value");
    }
    return sph_db_set_material_density(m, m.input.active_material_name, density);
}

// Reads the first `n` fields as reals; `record_message` when there are fewer.
int read_reals(Model& m, const SphCsvFields& f, int n, double* values,
               std::string_view record_message, std::string_view value_message) {
    if (f.count < n) return sph_input_set_error(m, record_message);
    for (int k = 0; k < n; ++k) {
        if (!sph_number_read_real(f.field[static_cast<std::size_t>(k)], values[k])) {
            return sph_input_set_error(m, value_message);
        }
    }
    return sph_success;
}

// *ELASTIC, *PLASTIC and *DAMAGE INITIATION go to the shell module when the
// active material is a shell material (material_type_is_shell) at the moment
// the line is read, else to the solid module.
int parse_elastic(Model& m, const SphCsvFields& f) {
    if (f.count < 2) return sph_input_set_error(m, "invalid *ELASTIC record");
    double e_mod = 0.0;
    double nu = 0.0;
    if (!sph_number_read_real(f.field[0], e_mod)) {
        return sph_input_set_error(m, "invalid elastic modulus");
    }
    if (!sph_number_read_real(f.field[1], nu)) {
        return sph_input_set_error(m, "invalid Poisson ratio");
    }
    if (material_type_is_shell(m, m.input.active_material_name)) {
        return sph_shell_set_elastic(m, m.input.active_material_name, e_mod, nu);
    }
    return sph_solid_set_elastic(m, m.input.active_material_name, e_mod, nu);
}

int parse_plastic(Model& m, const SphCsvFields& f) {
    double jc[8] = {};
    if (int st = read_reals(m, f, 8, jc, "invalid Johnson-Cook plastic record",
                            "invalid Johnson-Cook plastic value")) {
        return st;
    }
    const SolidJohnsonCook values{jc[0], jc[1], jc[2], jc[3], jc[4], jc[5], jc[6], jc[7]};
    if (material_type_is_shell(m, m.input.active_material_name)) {
        return sph_shell_set_johnson_cook(m, m.input.active_material_name, values);
    }
    return sph_solid_set_johnson_cook(m, m.input.active_material_name, values);
}

int parse_damage_initiation(Model& m, const SphCsvFields& f) {
    double d[5] = {};
    if (int st = read_reals(m, f, 5, d, "invalid Johnson-Cook damage record",
                            "invalid Johnson-Cook damage value")) {
        return st;
    }
    if (material_type_is_shell(m, m.input.active_material_name)) {
        return sph_shell_set_failure(m, m.input.active_material_name,
                                     {d[0], d[1], d[2], d[3], d[4]});
    }
    return sph_solid_set_failure(m, m.input.active_material_name, {d[0], d[1], d[2], d[3], d[4]});
}

int parse_orientation(Model& m, const SphCsvFields& f) {
    double v[6] = {};
    if (int st = read_reals(m, f, 6, v, "invalid *ORIENTATION record",
                            "invalid *ORIENTATION numeric value")) {
        return st;
    }
    return sph_shell_add_orientation(m, m.input.active_orientation_name, Vec3{v[0], v[1], v[2]},
                                     Vec3{v[3], v[4], v[5]});
}

int parse_data_line(Model& m, int keyword_id, std::string_view line, SphCsvFields& fields,
                    int& particle_counter) {
    switch (keyword_id) {
        case sph_inp_kw_node:
        case sph_inp_kw_element:
        case sph_inp_kw_nset:
        case sph_inp_kw_elset:
        case sph_inp_kw_density:
        case sph_inp_kw_elastic:
        case sph_inp_kw_plastic:
        case sph_inp_kw_damage:
        case sph_inp_kw_orientation:
        case sph_inp_kw_initial_conditions:
            break;
        default:
            return sph_success;  // data under *MATERIAL, sections, *VELUNOR and unknown keywords
    }
    sph_inp_split_csv(line, fields);
    if (drops_fields(line, fields)) sph_input_warn(m, "fields after the 64th are ignored");
    switch (keyword_id) {
        case sph_inp_kw_node:
            // The counter never passes the node count of the first pass by
            // more than one line, which the database refuses.
            if (particle_counter < INT_MAX) ++particle_counter;
            return parse_node(m, fields, particle_counter);
        case sph_inp_kw_element:
            return parse_element(m, fields);
        case sph_inp_kw_nset:
            if (m.input.active_nset_generate) return parse_generated_range(m, fields, true);
            return parse_set_members(m, fields, true);
        case sph_inp_kw_elset:
            if (m.input.active_elset_generate) return parse_generated_range(m, fields, false);
            return parse_set_members(m, fields, false);
        case sph_inp_kw_initial_conditions:
            return parse_initial_velocity(m, fields);
        case sph_inp_kw_density:
            return parse_density(m, fields);
        case sph_inp_kw_elastic:
            return parse_elastic(m, fields);
        case sph_inp_kw_plastic:
            return parse_plastic(m, fields);
        case sph_inp_kw_damage:
            return parse_damage_initiation(m, fields);
        default:
            return parse_orientation(m, fields);
    }
}

// ---------------------------------------------------------------------------
// Misspellings.

// Edit distance with adjacent transpositions (SAFTEY is one edit from
// SAFETY), letters compared as upper case.
std::size_t edit_distance(std::string_view a, std::string_view b) {
    const auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    const std::size_t n = b.size();
    std::vector<std::size_t> before(n + 1), last(n + 1), now(n + 1);
    for (std::size_t j = 0; j <= n; ++j) last[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        now[0] = i;
        for (std::size_t j = 1; j <= n; ++j) {
            const bool same = up(a[i - 1]) == up(b[j - 1]);
            now[j] = std::min({last[j] + 1, now[j - 1] + 1, last[j - 1] + (same ? 0 : 1)});
            if (i > 1 && j > 1 && up(a[i - 1]) == up(b[j - 2]) && up(a[i - 2]) == up(b[j - 1])) {
                now[j] = std::min(now[j], before[j - 2] + 1);
            }
        }
        before.swap(last);
        last.swap(now);
    }
    return last[n];
}

// The closest of `names` to `name` (case ignored) when it is close enough to
// be a misspelling of it; empty otherwise.
std::string_view closest_name(std::string_view name, std::span<const std::string_view> names) {
    // One edit in short names, two from six characters on: closer than that
    // a misspelling is likelier than another word. One edit turns a name of
    // one or two characters into another name (E0 and C0), not a misspelling.
    if (name.size() < 3) return {};
    const std::size_t limit = name.size() >= 6 ? 2 : 1;
    std::string_view best;
    std::size_t best_distance = limit + 1;
    for (std::string_view candidate : names) {
        const std::size_t d = edit_distance(name, candidate);
        if (d < best_distance && d < candidate.size()) {
            best = candidate;
            best_distance = d;
        }
    }
    return best;
}

// " (did you mean NAME?)" for the closest of `names`, empty when none is close.
std::string did_you_mean(std::string_view name, std::span<const std::string_view> names) {
    const std::string_view near = closest_name(name, names);
    return near.empty() ? std::string() : " (did you mean " + std::string(near) + "?)";
}

// ---------------------------------------------------------------------------
// Option tables: the names each keyword handler below reads. An entry
// "A|B|C" lists spellings of one option of which the first non-blank one
// counts (first_option); every other entry is read with
// sph_input_get_option, where the first field of that name counts.

using OptionNames = std::span<const std::string_view>;

constexpr std::string_view element_options[] = {"TYPE"};
constexpr std::string_view nset_options[] = {"NSET"};
constexpr std::string_view elset_options[] = {"ELSET"};
constexpr std::string_view initial_conditions_options[] = {"TYPE"};
constexpr std::string_view material_options[] = {"NAME", "TYPE"};
constexpr std::string_view section_options[] = {"ELSET|NSET", "MATERIAL", "ORIENTATION",
                                                "THICKNESS",  "POINTS",   "SHEAR_CORRECTION|SHEAR"};
constexpr std::string_view orientation_options[] = {"NAME"};
constexpr std::string_view generate_word[] = {"GENERATE"};

// FORMAT and CSV select the output form of the step files.
constexpr std::string_view output_options[] = {"DIRECTORY|DIR", "INTERVAL", "FORMAT", "CSV"};
constexpr std::string_view water_eos_options[] = {"TYPE",  "MATERIAL", "RHO0", "C0",
                                                  "GAMMA", "P0",       "B"};
constexpr std::string_view ideal_gas_options[] = {"TYPE", "MATERIAL", "GAMMA", "E0", "P0"};
constexpr std::string_view jwl_options[] = {"TYPE", "MATERIAL", "RHO0",  "A", "B",
                                            "R1",   "R2",       "OMEGA", "E0"};
constexpr std::string_view stiffened_gas_options[] = {"TYPE",  "MATERIAL", "RHO0",
                                                      "GAMMA", "E0",       "PINF"};
// A gas TYPE that the gas module refuses: the line fails anyway.
constexpr std::string_view gas_eos_options[] = {"TYPE", "MATERIAL"};
constexpr std::string_view viscosity_options[] = {"TYPE", "MATERIAL", "ALPHA",
                                                  "BETA", "ETA2",     "DENSITY_DIFFUSION"};
constexpr std::string_view particle_control_options[] = {"H", "MASS", "VOLUME"};
constexpr std::string_view body_force_options[] = {"X", "Y", "Z"};
constexpr std::string_view blast_region_options[] = {"NAME",
                                                     "X",
                                                     "Y",
                                                     "Z",
                                                     "RADIUS",
                                                     "SOURCE_PHASE|SOURCE",
                                                     "TARGET_PHASE|TARGET",
                                                     "TARGET_SET|SET|ELSET|NSET",
                                                     "SCALE|FACTOR",
                                                     "TIME_WINDOW|WINDOW",
                                                     "MODE|PROJECTION",
                                                     "ENABLED|ACTIVE"};
constexpr std::string_view explosive_options[] = {
    "MATERIAL", "TYPE",     "PRODUCT_MATERIAL", "CONVERSION", "DETONATION_VELOCITY",
    "ENERGY",   "BURN_TIME"};
constexpr std::string_view ignition_options[] = {"MATERIAL", "X", "Y", "Z", "TIME"};
constexpr std::string_view solid_control_options[] = {"MATERIAL", "SOFTENING", "WIDTH", "H",
                                                      "VOLUME"};
constexpr std::string_view shell_director_options[] = {"SET|NSET|ELSET", "NX", "NY", "NZ"};
constexpr std::string_view shell_rotation_options[] = {
    "SET|NSET|ELSET", "OX", "OY", "OZ", "AX", "AY", "AZ"};
constexpr std::string_view shell_control_options[] = {"MATERIAL", "SOFTENING", "WIDTH"};
constexpr std::string_view coupling_region_options[] = {
    "NAME",   "SET|NSET|ELSET", "TYPE",         "SURFACE",       "MATERIAL", "SECTION", "EXPORT",
    "IMPORT", "LOAD_MODE",      "DISTRIBUTION", "CONTACT_STATE", "ENABLED",  "PHASE"};
constexpr std::string_view tamrix_options[] = {"WORKER",
                                               "REGION",
                                               "EXPORT_RADIUS",
                                               "EXPORT_SOUND_SPEED",
                                               "ACCEPT_CONTACT_STATE",
                                               "ACCEPT_BOUNDARY_STATE"};

// The spellings of one table entry.
std::vector<std::string_view> spellings(std::string_view entry) {
    std::vector<std::string_view> names;
    for (std::size_t start = 0;;) {
        const std::size_t bar = entry.find('|', start);
        names.push_back(entry.substr(start, bar - start));
        if (bar == std::string_view::npos) return names;
        start = bar + 1;
    }
}

// The keyword as the user wrote it (its first field), upper-cased.
std::string keyword_name(std::string_view line) {
    return sph_inp_upper(sph_text_trim(line.substr(0, line.find(','))));
}

// Warns about every option of a keyword line that its handler does not read:
// names outside `table` (with the closest known name when one is close),
// words without "=" other than `words`, a name given again (only its first
// field counts) and spellings of one option beside the one that counts. Only
// text: the warning count stays as it is.
void check_options(Model& m, std::string_view line, std::string_view keyword, OptionNames table,
                   OptionNames words = {}) {
    if (!m.log.sph_log_is_open) return;  // nobody to tell
    std::vector<std::string_view> known;
    std::vector<int> entry_of;
    for (std::size_t e = 0; e < table.size(); ++e) {
        for (std::string_view name : spellings(table[e])) {
            known.push_back(name);
            entry_of.push_back(static_cast<int>(e));
        }
    }
    // Per spelling: seen, and the value of its first field.
    std::vector<bool> seen(known.size(), false);
    std::vector<std::string_view> first_value(known.size());
    SphCsvFields fields;
    sph_inp_split_csv(line, fields);
    const std::string kw(keyword);
    for (int k = 1; k < fields.count; ++k) {
        const std::string_view field = sph_text_trim(fields.field[static_cast<std::size_t>(k)]);
        if (field.empty()) continue;
        const std::size_t eq = field.find('=');
        if (eq == std::string_view::npos) {
            bool allowed = false;
            for (std::string_view w : words) allowed = allowed || sph_text_name_equal(field, w);
            if (!allowed) sph_input_warn_option_without_value(m, field, keyword);
            continue;
        }
        const std::string name = sph_text_upper(sph_text_trim(field.substr(0, eq)));
        const auto it = std::find(known.begin(), known.end(), name);
        if (it == known.end()) {
            sph_input_warn_unknown_option(m, name, keyword, known);
            continue;
        }
        const std::size_t n = static_cast<std::size_t>(it - known.begin());
        if (seen[n]) {
            sph_input_warn(m, "option " + name + " of " + kw +
                                  " is given more than once; only the first counts");
            continue;
        }
        seen[n] = true;
        first_value[n] = sph_text_trim(field.substr(eq + 1));
    }
    if (drops_fields(line, fields)) {
        sph_input_warn(m, "fields after the 64th of " + kw + " are ignored");
    }
    // Spellings of one option: the first non-blank one in table order counts.
    for (std::size_t n = 0; n < known.size(); ++n) {
        if (first_value[n].empty()) continue;
        for (std::size_t w = 0; w < n; ++w) {
            if (entry_of[w] == entry_of[n] && !first_value[w].empty()) {
                sph_input_warn(m, "option " + std::string(known[n]) + " of " + kw +
                                      " is ignored: " + std::string(known[w]) + " is given");
                break;
            }
        }
    }
}

// The names the handler of an *VELUNOR EOS line reads: they depend on TYPE
// as in parse_eos.
OptionNames eos_options(std::string_view line) {
    const std::string type = sph_inp_upper(sph_input_get_option(line, "TYPE"));
    const auto has = [&](std::string_view word) { return type.find(word) != std::string::npos; };
    if (has("TAIT")) return water_eos_options;
    if (type.empty() || has("IDEAL_GAS")) return ideal_gas_options;
    if (has("JWL")) return jwl_options;
    if (has("STIFFENED_GAS")) return stiffened_gas_options;
    return gas_eos_options;
}

// ---------------------------------------------------------------------------
// Keyword lines.

std::string option_or(std::string_view line, std::string_view name, std::string_view fallback) {
    std::string_view value = sph_input_get_option(line, name);
    return std::string(value.empty() ? fallback : value);
}

// First non-blank of the options, in order.
std::string_view first_option(std::string_view line,
                              std::initializer_list<std::string_view> names) {
    for (std::string_view name : names) {
        std::string_view value = sph_input_get_option(line, name);
        if (!value.empty()) return value;
    }
    return {};
}

// True if a field after the keyword is `word` alone (an option without a
// value, such as GENERATE), case ignored.
bool keyword_has_word(std::string_view line, std::string_view word) {
    SphCsvFields fields;
    sph_inp_split_csv(line, fields);
    for (int k = 1; k < fields.count; ++k) {
        if (sph_text_name_equal(fields.field[static_cast<std::size_t>(k)], word)) return true;
    }
    return false;
}

// Only velocities can be given; any other TYPE is refused by name rather than
// ignored, so no deck loses its initial state silently.
int check_initial_conditions_type(Model& m, std::string_view line) {
    std::string_view type = sph_input_get_option(line, "TYPE");
    if (type.empty()) return sph_input_set_error(m, "*INITIAL CONDITIONS requires TYPE=VELOCITY");
    if (!sph_text_name_equal(type, "VELOCITY")) {
        return sph_input_set_error(m, "*INITIAL CONDITIONS TYPE=" + std::string(type) +
                                          " is not supported (only VELOCITY)");
    }
    return sph_success;
}

int register_material(Model& m, std::string_view line) {
    InputState& in = m.input;
    in.input_has_material = true;
    std::string name = option_or(line, "NAME", "MATERIAL");
    in.active_material_name = name;
    std::string type = option_or(line, "TYPE", "UNSPECIFIED");
    if (int status = sph_db_add_material(m, name, type)) return status;
    // Every module with a material table is offered the material.
    sph_water_note_material(m.water, name, type);
    sph_gas_note_material(m, name, type);
    sph_explosive_note_material(m, name, type);
    sph_solid_note_material(m, name, type);
    sph_shell_note_material(m, name, type);
    return sph_success;
}

int validate_solid_section(Model& m, std::string_view material) {
    if (material.empty()) return sph_input_set_error(m, "Solid section is missing MATERIAL option");
    const MaterialRecord* mat = find_material(m, material);
    if (mat != nullptr && is_explicit_non_solid_type(mat->material_type)) {
        return sph_input_set_error(m, "Solid section references non-Solid material");
    }
    return sph_success;
}

int validate_shell_section(Model& m, std::string_view material, double thickness, int points,
                           double shear) {
    if (material.empty()) return sph_input_set_error(m, "Shell section is missing MATERIAL option");
    if (find_material(m, material) == nullptr) {
        return sph_input_set_error(m, "Shell section references unknown material");
    }
    if (!material_type_is_shell(m, material)) {
        return sph_input_set_error(m, "Shell section references non-Shell material");
    }
    if (!sph_input_real_is_finite(thickness) || !(thickness > 0.0)) {
        return sph_input_set_error(m, "Shell section THICKNESS must be positive");
    }
    if (points != 3 && points != 5) {
        return sph_input_set_error(m, "Shell section POINTS must be 3 or 5");
    }
    if (!sph_input_real_is_finite(shear) || !(shear > 0.0) || shear > 1.0) {
        return sph_input_set_error(m, "Shell section SHEAR_CORRECTION is invalid");
    }
    return sph_success;
}

int register_section(Model& m, std::string_view line) {
    m.input.input_has_section = true;
    std::string set_name(first_option(line, {"ELSET", "NSET"}));
    if (set_name.empty()) set_name = "SECTION";
    std::string material(sph_input_get_option(line, "MATERIAL"));
    std::string orientation(sph_input_get_option(line, "ORIENTATION"));

    double thickness = 0.0;
    std::string_view text = sph_input_get_option(line, "THICKNESS");
    if (!text.empty()) {
        if (int status =
                sph_input_parse_real_value(m, text, thickness, "invalid section THICKNESS")) {
            return status;
        }
    }
    int points = 3;
    text = sph_input_get_option(line, "POINTS");
    if (!text.empty()) {
        if (int status = sph_input_parse_integer_value(m, text, points, "invalid section POINTS")) {
            return status;
        }
    }
    double shear = sph_input_default_shear_correction;
    text = first_option(line, {"SHEAR_CORRECTION", "SHEAR"});
    if (!text.empty()) {
        if (int status =
                sph_input_parse_real_value(m, text, shear, "invalid section SHEAR_CORRECTION")) {
            return status;
        }
    }

    std::string type = "SECTION";
    if (sph_inp_starts_with_upper(line, "*SOLID SECTION")) {
        type = "SOLID";
        if (int status = validate_solid_section(m, material)) return status;
    } else if (sph_inp_starts_with_upper(line, "*SHELL SECTION")) {
        type = "SHELL";
        if (int status = validate_shell_section(m, material, thickness, points, shear)) {
            return status;
        }
    } else if (material.empty()) {
        material = "MATERIAL";
    }
    return sph_db_add_section(m, set_name, type, material, thickness, points, shear, orientation);
}

int register_orientation(Model& m, std::string_view line) {
    std::string_view name = sph_input_get_option(line, "NAME");
    if (name.empty()) return sph_input_set_error(m, "Orientation is missing NAME option");
    m.input.active_orientation_name = std::string(name);
    return sph_success;
}

// ---------------------------------------------------------------------------
// *VELUNOR keywords of the run and fluid phases.

// FORMAT and CSV are checked before anything of the line is stored; a blank
// value keeps what an earlier line gave.
int parse_output_control(Model& m, std::string_view line) {
    OutputOptions options = m.output;
    const std::string_view format = sph_input_get_option(line, "FORMAT");
    if (!format.empty()) {
        SphVtuFormat deck_format = SphVtuFormat::ascii;
        if (!sph_output_parse_format(format, deck_format)) {
            return sph_input_set_error(m, "invalid VELUNOR OUTPUT FORMAT");
        }
        // The host's VELUNOR_OUTPUT_FORMAT wins over the deck.
        if (!options.format_override) options.vtu_format = deck_format;
    }
    const std::string_view csv = sph_input_get_option(line, "CSV");
    if (!csv.empty()) {
        if (sph_text_name_equal(csv, "YES")) {
            options.particle_csv = true;
        } else if (sph_text_name_equal(csv, "NO")) {
            options.particle_csv = false;
        } else {
            return sph_input_set_error(m, "invalid VELUNOR OUTPUT CSV");
        }
    }
    std::string_view directory = sph_input_get_option(line, "DIRECTORY");
    if (directory.empty()) directory = sph_input_get_option(line, "DIR");
    if (!directory.empty()) {
        if (int status = sph_output_set_directory(m, directory)) return status;
    }
    std::string_view text = sph_input_get_option(line, "INTERVAL");
    if (!text.empty()) {
        int interval = 0;
        if (int status = sph_input_parse_integer_value(m, text, interval,
                                                       "invalid numeric option INTERVAL")) {
            return status;
        }
        sph_input_warn_trailing_text(m, text, "INTERVAL");
        if (int status = sph_output_set_interval(m, interval)) return status;
    }
    m.output = options;
    return sph_success;
}

int parse_water_eos(Model& m, std::string_view line) {
    std::string_view type = sph_input_get_option(line, "TYPE");
    std::string_view material = sph_input_get_option(line, "MATERIAL");
    double rho0 = 0.0, c0 = 0.0, gamma = 0.0, p0 = 0.0, b = 0.0;
    bool has_b = false;
    if (int status = sph_input_get_required_real(m, line, "RHO0", rho0)) return status;
    if (int status = sph_input_get_required_real(m, line, "C0", c0)) return status;
    if (int status = sph_input_get_required_real(m, line, "GAMMA", gamma)) return status;
    if (int status = sph_input_get_optional_real(m, line, "P0", p0)) return status;
    std::string_view b_text = sph_input_get_option(line, "B");
    if (!b_text.empty()) {
        if (int status = sph_input_parse_real_value(m, b_text, b, "invalid VELUNOR EOS B")) {
            return status;
        }
        has_b = true;
    }
    return sph_water_set_eos(m, type, material, rho0, c0, gamma, p0, b, has_b);
}

// The upper-cased TYPE selects which options are read; every value starts
// at 0, and the gas module rejects a TYPE it does not know.
int parse_gas_eos(Model& m, std::string_view line) {
    std::string_view type = sph_input_get_option(line, "TYPE");
    std::string_view material = sph_input_get_option(line, "MATERIAL");
    std::string upper_type = sph_inp_upper(type);
    auto has = [&](std::string_view word) { return upper_type.find(word) != std::string::npos; };
    double rho0 = 0.0, gamma = 0.0, e0 = 0.0, p0 = 0.0, a = 0.0, b = 0.0, r1 = 0.0, r2 = 0.0,
           omega = 0.0, pinf = 0.0;
    struct Required {
        std::string_view name;
        double* value;
    };
    auto required = [&](std::initializer_list<Required> options) {
        for (const Required& o : options) {
            if (int status = sph_input_get_required_real(m, line, o.name, *o.value)) return status;
        }
        return sph_success;
    };
    int status = sph_success;
    if (upper_type.empty() || has("IDEAL_GAS")) {
        status = required({{"GAMMA", &gamma}, {"E0", &e0}});
        if (status == sph_success) status = sph_input_get_optional_real(m, line, "P0", p0);
    } else if (has("JWL")) {
        status = required({{"RHO0", &rho0},
                           {"A", &a},
                           {"B", &b},
                           {"R1", &r1},
                           {"R2", &r2},
                           {"OMEGA", &omega},
                           {"E0", &e0}});
    } else if (has("STIFFENED_GAS")) {
        status = required({{"RHO0", &rho0}, {"GAMMA", &gamma}, {"E0", &e0}, {"PINF", &pinf}});
    }
    if (status != sph_success) return status;
    return sph_gas_set_eos(m, type, material, rho0, gamma, e0, p0, a, b, r1, r2, omega, pinf);
}

int parse_eos(Model& m, std::string_view line) {
    if (sph_text_contains_upper(sph_input_get_option(line, "TYPE"), "TAIT")) {
        return parse_water_eos(m, line);
    }
    return parse_gas_eos(m, line);
}

int parse_water_viscosity(Model& m, std::string_view line) {
    std::string_view type = sph_input_get_option(line, "TYPE");
    std::string_view material = sph_input_get_option(line, "MATERIAL");
    double alpha = 0.0, beta = 0.0, eta2 = 0.0;
    if (int status = sph_input_get_required_real(m, line, "ALPHA", alpha)) return status;
    if (int status = sph_input_get_required_real(m, line, "BETA", beta)) return status;
    if (int status = sph_input_get_required_real(m, line, "ETA2", eta2)) return status;
    // Density diffusion of water and gas, off when absent or 0; checked before
    // anything is stored, so a bad value leaves the viscosity as it was.
    double delta = 0.0;
    std::string_view delta_text = sph_input_get_option(line, "DENSITY_DIFFUSION");
    if (!delta_text.empty()) {
        constexpr std::string_view message = "invalid VELUNOR VISCOSITY DENSITY_DIFFUSION";
        if (int status = sph_input_parse_real_value(m, delta_text, delta, message)) return status;
        if (!sph_input_real_is_finite(delta) || delta < 0.0) {
            return sph_input_set_error(m, message);
        }
    }
    if (int status = sph_water_set_viscosity(m, type, material, alpha, beta, eta2)) return status;
    sph_water_set_density_diffusion(m.water, delta);
    sph_gas_set_density_diffusion(m.gas, delta);
    return sph_success;
}

int parse_particle_control(Model& m, std::string_view line) {
    double h = 0.0, mass = 0.0, volume = 0.0;
    if (int status = sph_input_get_required_real(m, line, "H", h)) return status;
    if (int status = sph_input_get_required_real(m, line, "MASS", mass)) return status;
    if (int status = sph_input_get_required_real(m, line, "VOLUME", volume)) return status;
    if (int status = sph_water_set_particle_control(m, h, mass, volume)) return status;
    return sph_gas_set_particle_control(m, h, mass, volume);
}

int parse_body_force(Model& m, std::string_view line) {
    Vec3 force;
    if (int status = sph_input_get_optional_real(m, line, "X", force.x)) return status;
    if (int status = sph_input_get_optional_real(m, line, "Y", force.y)) return status;
    if (int status = sph_input_get_optional_real(m, line, "Z", force.z)) return status;
    if (int status = sph_water_set_body_force(m, force)) return status;
    if (int status = sph_gas_set_body_force(m, force)) return status;
    sph_solid_set_body_force(m, force);
    return sph_success;
}

int parse_explosive_control(Model& m, std::string_view line) {
    std::string_view material = sph_input_get_option(line, "MATERIAL");
    std::string_view type = sph_input_get_option(line, "TYPE");
    std::string_view product = sph_input_get_option(line, "PRODUCT_MATERIAL");
    std::string_view conversion = sph_input_get_option(line, "CONVERSION");
    double velocity = 0.0, energy = 0.0, burn_time = 0.0;
    if (int st = sph_input_get_required_real(m, line, "DETONATION_VELOCITY", velocity)) return st;
    if (int st = sph_input_get_required_real(m, line, "ENERGY", energy)) return st;
    if (int st = sph_input_get_required_real(m, line, "BURN_TIME", burn_time)) return st;
    return sph_explosive_set_control(m, material, type, velocity, energy, burn_time, product,
                                     conversion);
}

int parse_ignition(Model& m, std::string_view line) {
    std::string_view material = sph_input_get_option(line, "MATERIAL");
    Vec3 point;
    double time = 0.0;
    if (int st = sph_input_get_required_real(m, line, "X", point.x)) return st;
    if (int st = sph_input_get_required_real(m, line, "Y", point.y)) return st;
    if (int st = sph_input_get_required_real(m, line, "Z", point.z)) return st;
    if (int st = sph_input_get_required_real(m, line, "TIME", time)) return st;
    return sph_explosive_set_ignition(m, material, point, time);
}

// MATERIAL, SOFTENING and WIDTH (1.0), and the particle size of the material:
// H and VOLUME, each optional.
int parse_solid_control(Model& m, std::string_view line) {
    std::string_view material = sph_input_get_option(line, "MATERIAL");
    std::string_view softening = sph_input_get_option(line, "SOFTENING");
    double width = 1.0;
    if (int st = sph_input_get_optional_real(m, line, "WIDTH", width)) return st;
    const bool has_h = !sph_input_get_option(line, "H").empty();
    const bool has_volume = !sph_input_get_option(line, "VOLUME").empty();
    double h = 0.0, volume = 0.0;
    if (int st = sph_input_get_optional_real(m, line, "H", h)) return st;
    if (int st = sph_input_get_optional_real(m, line, "VOLUME", volume)) return st;
    return sph_solid_set_control(m, material, softening, width, has_h, h, has_volume, volume);
}

// SET, else NSET, else ELSET, and the director NX, NY, NZ.
int parse_shell_director(Model& m, std::string_view line) {
    const std::string_view set = first_option(line, {"SET", "NSET", "ELSET"});
    if (set.empty()) return sph_input_set_error(m, "Shell director is missing SET option");
    Vec3 d;
    if (int st = sph_input_get_required_real(m, line, "NX", d.x)) return st;
    if (int st = sph_input_get_required_real(m, line, "NY", d.y)) return st;
    if (int st = sph_input_get_required_real(m, line, "NZ", d.z)) return st;
    return sph_shell_set_director_for_set(m, set, d);
}

// SET, else NSET, else ELSET; the angular velocity OX, OY, OZ and the
// angular acceleration AX, AY, AZ (0 each when absent).
int parse_shell_rotation(Model& m, std::string_view line) {
    const std::string_view set = first_option(line, {"SET", "NSET", "ELSET"});
    if (set.empty()) return sph_input_set_error(m, "Shell rotation is missing SET option");
    Vec3 omega, alpha;
    if (int st = sph_input_get_required_real(m, line, "OX", omega.x)) return st;
    if (int st = sph_input_get_required_real(m, line, "OY", omega.y)) return st;
    if (int st = sph_input_get_required_real(m, line, "OZ", omega.z)) return st;
    if (int st = sph_input_get_optional_real(m, line, "AX", alpha.x)) return st;
    if (int st = sph_input_get_optional_real(m, line, "AY", alpha.y)) return st;
    if (int st = sph_input_get_optional_real(m, line, "AZ", alpha.z)) return st;
    return sph_shell_set_rotation_for_set(m, set, omega, alpha);
}

// MATERIAL, SOFTENING and WIDTH (1.0).
int parse_shell_control(Model& m, std::string_view line) {
    const std::string_view material = sph_input_get_option(line, "MATERIAL");
    const std::string_view softening = sph_input_get_option(line, "SOFTENING");
    double width = 1.0;
    if (int st = sph_input_get_optional_real(m, line, "WIDTH", width)) return st;
    return sph_shell_set_control(m, material, softening, width);
}

// The second spelling of an option counts only when the first is absent or
// blank.
int parse_blast_region(Model& m, std::string_view line) {
    std::string name = option_or(line, "NAME", "BLAST");
    Vec3 center;
    if (int st = sph_input_get_optional_real(m, line, "X", center.x)) return st;
    if (int st = sph_input_get_optional_real(m, line, "Y", center.y)) return st;
    if (int st = sph_input_get_optional_real(m, line, "Z", center.z)) return st;
    double radius = 0.0;
    if (int st = sph_input_get_required_real(m, line, "RADIUS", radius)) return st;
    std::string source(first_option(line, {"SOURCE_PHASE", "SOURCE"}));
    if (source.empty()) source = "GAS";
    std::string target(first_option(line, {"TARGET_PHASE", "TARGET"}));
    if (target.empty()) target = "STRUCTURE";
    std::string set(first_option(line, {"TARGET_SET", "SET", "ELSET", "NSET"}));
    if (set.empty()) return sph_input_set_error(m, "Blast region is missing TARGET_SET option");
    double scale = 1.0;
    std::string_view text = first_option(line, {"SCALE", "FACTOR"});
    if (!text.empty()) {
        if (int st = sph_input_parse_real_value(m, text, scale, "invalid blast SCALE")) return st;
    }
    double window = 0.0;
    text = first_option(line, {"TIME_WINDOW", "WINDOW"});
    if (!text.empty()) {
        if (int st = sph_input_parse_real_value(m, text, window, "invalid blast TIME_WINDOW")) {
            return st;
        }
    }
    std::string mode(first_option(line, {"MODE", "PROJECTION"}));
    if (mode.empty()) mode = "RADIAL";
    bool enabled = true;
    text = first_option(line, {"ENABLED", "ACTIVE"});
    if (!text.empty()) {
        if (int st =
                sph_input_parse_logical_value(m, text, enabled, "invalid blast ENABLED option")) {
            return st;
        }
    }
    return sph_blast_add_region(m, name, center, radius, source, target, set, scale, window, mode,
                                enabled);
}

// A word option converted by its table: a blank option keeps `code`; a word
// outside the table records `message`.
struct WordCode {
    std::string_view word;
    int code;
};

int read_word_option(Model& m, std::string_view line, std::string_view name,
                     std::initializer_list<WordCode> table, std::string_view message, int& code) {
    std::string_view value = sph_input_get_option(line, name);
    if (value.empty()) return sph_success;
    for (const WordCode& entry : table) {
        if (sph_text_name_equal(value, entry.word)) {
            code = entry.code;
            return sph_success;
        }
    }
    return sph_input_set_error(m, message);
}

int parse_coupling_region(Model& m, std::string_view line) {
    const std::string name(sph_input_get_option(line, "NAME"));
    if (name.empty()) return sph_input_set_error(m, "Coupling region is missing NAME option");
    const std::string set(first_option(line, {"SET", "NSET", "ELSET"}));
    if (set.empty()) return sph_input_set_error(m, "Coupling region is missing SET option");
    int region_type = sph_region_coupling_contact;
    if (int st = read_word_option(m, line, "TYPE",
                                  {{"CONTACT", sph_region_coupling_contact},
                                   {"CONTINUUM", sph_region_coupling_continuum}},
                                  "invalid coupling region TYPE option", region_type)) {
        return st;
    }
    const std::string surface(sph_input_get_option(line, "SURFACE"));
    const std::string material(sph_input_get_option(line, "MATERIAL"));
    const std::string section(sph_input_get_option(line, "SECTION"));
    int export_mode = sph_coupling_export_particle;
    if (int st = read_word_option(m, line, "EXPORT",
                                  {{"PARTICLE", sph_coupling_export_particle},
                                   {"FACET", sph_coupling_export_facet},
                                   {"BOTH", sph_coupling_export_both}},
                                  "invalid coupling region EXPORT option", export_mode)) {
        return st;
    }
    int import_mode = sph_coupling_import_force;
    if (int st = read_word_option(m, line, "IMPORT",
                                  {{"FORCE", sph_coupling_import_force},
                                   {"FACET_LOAD", sph_coupling_import_facet_load},
                                   {"MOTION", sph_coupling_import_motion}},
                                  "invalid coupling region IMPORT option", import_mode)) {
        return st;
    }
    int load_mode = import_mode == sph_coupling_import_facet_load
                        ? sph_coupling_load_facet_force
                        : sph_coupling_load_particle_force;
    if (int st = read_word_option(m, line, "LOAD_MODE",
                                  {{"PARTICLE_FORCE", sph_coupling_load_particle_force},
                                   {"FACET_FORCE", sph_coupling_load_facet_force},
                                   {"PRESSURE", sph_coupling_load_pressure},
                                   {"TRACTION", sph_coupling_load_traction}},
                                  "invalid coupling region LOAD_MODE option", load_mode)) {
        return st;
    }
    int distribution = sph_coupling_distribution_uniform;
    if (int st = read_word_option(m, line, "DISTRIBUTION",
                                  {{"UNIFORM", sph_coupling_distribution_uniform},
                                   {"AREA", sph_coupling_distribution_area},
                                   {"MASS", sph_coupling_distribution_mass}},
                                  "invalid coupling region DISTRIBUTION option", distribution)) {
        return st;
    }
    int contact_state = sph_coupling_contact_state_none;
    if (int st = read_word_option(m, line, "CONTACT_STATE",
                                  {{"NONE", sph_coupling_contact_state_none},
                                   {"NO", sph_coupling_contact_state_none},
                                   {"OFF", sph_coupling_contact_state_none},
                                   {"IMPORT", sph_coupling_contact_state_import},
                                   {"YES", sph_coupling_contact_state_import},
                                   {"ON", sph_coupling_contact_state_import}},
                                  "invalid coupling region CONTACT_STATE option", contact_state)) {
        return st;
    }
    bool enabled = true;
    if (std::string_view text = sph_input_get_option(line, "ENABLED"); !text.empty()) {
        if (int st = sph_input_parse_logical_value(m, text, enabled,
                                                   "invalid coupling region ENABLED option")) {
            return st;
        }
    }
    int phase_filter = 0;
    if (int st = read_word_option(m, line, "PHASE",
                                  {{"WATER", sph_phase_water},
                                   {"GAS", sph_phase_gas},
                                   {"EXPLOSIVE", sph_phase_explosive},
                                   {"SOLID", sph_phase_solid},
                                   {"SHELL", sph_phase_shell},
                                   {"BOUNDARY", sph_phase_boundary},
                                   {"COUPLING", sph_phase_coupling},
                                   {"SOLID_FAILED", sph_phase_solid_failed},
                                   {"SHELL_FAILED", sph_phase_shell_failed}},
                                  "invalid coupling region PHASE option", phase_filter)) {
        return st;
    }
    if (region_type == sph_region_coupling_continuum) {
        // Written options count even with a blank value.
        for (std::string_view option :
             {"SURFACE", "PHASE", "MATERIAL", "SECTION", "EXPORT", "IMPORT", "LOAD_MODE",
              "DISTRIBUTION", "CONTACT_STATE", "ENABLED"}) {
            if (sph_input_option_present(line, option)) {
                return sph_input_set_error(m, "TYPE=CONTINUUM is reserved for a later version");
            }
        }
        enabled = false;
    }
    if (enabled && load_mode >= sph_coupling_load_facet_force &&
        export_mode == sph_coupling_export_particle) {
        return sph_input_set_error(m, "facet coupling load requires facet export");
    }
    return sph_db_add_coupling_region(m, name, set, region_type, export_mode, import_mode,
                                      load_mode, distribution, contact_state, enabled, surface,
                                      phase_filter, material, section);
}

// A blank option keeps its default; a logical that does not read stops the
// keyword.
int parse_tamrix_options(Model& m, std::string_view line) {
    struct Flag {
        std::string_view option;
        bool value;
        std::string_view message;
    };
    Flag worker{"WORKER", true, "invalid Tamrix WORKER option"};
    Flag radius{"EXPORT_RADIUS", true, "invalid Tamrix EXPORT_RADIUS option"};
    Flag sound_speed{"EXPORT_SOUND_SPEED", true, "invalid Tamrix EXPORT_SOUND_SPEED option"};
    Flag contact{"ACCEPT_CONTACT_STATE", true, "invalid Tamrix ACCEPT_CONTACT_STATE option"};
    Flag boundary{"ACCEPT_BOUNDARY_STATE", false, "invalid Tamrix ACCEPT_BOUNDARY_STATE option"};
    const auto read_flag = [&](Flag& flag) {
        std::string_view text = sph_input_get_option(line, flag.option);
        if (text.empty()) return sph_success;
        return sph_input_parse_logical_value(m, text, flag.value, flag.message);
    };
    if (int st = read_flag(worker)) return st;
    const std::string region = option_or(line, "REGION", "ALL");
    for (Flag* flag : {&radius, &sound_speed, &contact, &boundary}) {
        if (int st = read_flag(*flag)) return st;
    }
    return sph_db_set_tamrix_options(m, worker.value ? 1 : 0, region, radius.value ? 1 : 0,
                                     sound_speed.value ? 1 : 0, contact.value ? 1 : 0,
                                     boundary.value ? 1 : 0);
}

// The *VELUNOR keyword names of the phrase table, for the did-you-mean of an
// unknown one.
constexpr std::string_view velunor_keywords[] = {
    "*VELUNOR TIME CONTROL",     "*VELUNOR OUTPUT",        "*VELUNOR COUPLING REGION",
    "*VELUNOR TAMRIX",           "*VELUNOR EOS",           "*VELUNOR VISCOSITY",
    "*VELUNOR PARTICLE CONTROL", "*VELUNOR BODY FORCE",    "*VELUNOR BLAST REGION",
    "*VELUNOR EXPLOSIVE",        "*VELUNOR IGNITION",      "*VELUNOR SHELL DIRECTOR",
    "*VELUNOR SHELL ROTATION",   "*VELUNOR SHELL CONTROL", "*VELUNOR SOLID CONTROL"};

// Standard keyword names (the prefixes of sph_inp_keyword_id and the two
// section keywords), for the did-you-mean of an unknown keyword.
constexpr std::string_view standard_keywords[] = {"*NODE",
                                                  "*ELEMENT",
                                                  "*NSET",
                                                  "*ELSET",
                                                  "*MATERIAL",
                                                  "*SOLID SECTION",
                                                  "*SHELL SECTION",
                                                  "*DENSITY",
                                                  "*ELASTIC",
                                                  "*PLASTIC",
                                                  "*DAMAGE INITIATION",
                                                  "*ORIENTATION",
                                                  "*INITIAL CONDITIONS"};

// One counted warning: a keyword the reader does not know, ignored with its
// data lines.
void warn_unknown_keyword(Model& m, std::string_view line, OptionNames names) {
    ++m.input.input_warning_count;
    if (!m.log.sph_log_is_open) return;
    const std::string keyword = keyword_name(line);
    sph_input_warn(m, "unknown keyword " + keyword + " (ignored with its data lines)" +
                          did_you_mean(keyword, names));
}

int dispatch_velunor(Model& m, std::string_view line) {
    using Handler = int (*)(Model&, std::string_view);
    struct Phrase {
        std::string_view text;
        Handler handler;
        OptionNames options;  // empty: the handler checks its own
    };
    // The first phrase found anywhere in the upper-cased line decides, option
    // values included.
    static constexpr Phrase phrases[] = {
        {"TIME CONTROL", sph_input_parse_time_control, {}},
        {"OUTPUT", parse_output_control, output_options},
        {"COUPLING REGION", parse_coupling_region, coupling_region_options},
        {"TAMRIX", parse_tamrix_options, tamrix_options},
        {"EOS", parse_eos, {}},
        {"VISCOSITY", parse_water_viscosity, viscosity_options},
        {"PARTICLE CONTROL", parse_particle_control, particle_control_options},
        {"BODY FORCE", parse_body_force, body_force_options},
        {"BLAST REGION", parse_blast_region, blast_region_options},
        {"EXPLOSIVE", parse_explosive_control, explosive_options},
        {"IGNITION", parse_ignition, ignition_options},
        {"SHELL DIRECTOR", parse_shell_director, shell_director_options},
        {"SHELL ROTATION", parse_shell_rotation, shell_rotation_options},
        {"SHELL CONTROL", parse_shell_control, shell_control_options},
        {"SOLID CONTROL", parse_solid_control, solid_control_options},
    };
    static_assert(std::size(phrases) == std::size(velunor_keywords));
    std::string upper = sph_inp_upper(line);
    for (std::size_t k = 0; k < std::size(phrases); ++k) {
        const Phrase& p = phrases[k];
        if (upper.find(p.text) == std::string::npos) continue;
        if (p.handler == sph_input_parse_time_control) {
            m.input.input_has_time_control = true;
        } else {
            check_options(m, line, velunor_keywords[k],
                          p.handler == parse_eos ? eos_options(line) : p.options);
        }
        return p.handler(m, line);
    }
    warn_unknown_keyword(m, line, velunor_keywords);
    return sph_success;
}

int record_keyword(Model& m, std::string_view line, int keyword_id) {
    InputState& in = m.input;
    switch (keyword_id) {
        case sph_inp_kw_element:
            check_options(m, line, keyword_name(line), element_options);
            in.active_element_type = option_or(line, "TYPE", "UNKNOWN");
            return sph_success;
        case sph_inp_kw_nset:
            check_options(m, line, keyword_name(line), nset_options, generate_word);
            in.active_nset_name = option_or(line, "NSET", "NSET");
            in.active_nset_generate = keyword_has_word(line, "GENERATE");
            in.active_generated_nset = 0;
            return sph_success;
        case sph_inp_kw_elset:
            check_options(m, line, keyword_name(line), elset_options, generate_word);
            in.active_elset_name = option_or(line, "ELSET", "ELSET");
            in.active_elset_generate = keyword_has_word(line, "GENERATE");
            in.active_generated_elset = 0;
            return sph_success;
        case sph_inp_kw_initial_conditions:
            check_options(m, line, keyword_name(line), initial_conditions_options);
            return check_initial_conditions_type(m, line);
        case sph_inp_kw_material:
            check_options(m, line, keyword_name(line), material_options);
            return register_material(m, line);
        case sph_inp_kw_section:
            check_options(m, line, keyword_name(line), section_options);
            return register_section(m, line);
        case sph_inp_kw_velunor:
            return dispatch_velunor(m, line);
        case sph_inp_kw_orientation:
            check_options(m, line, keyword_name(line), orientation_options);
            return register_orientation(m, line);
        case sph_inp_kw_unknown:
            warn_unknown_keyword(m, line, standard_keywords);
            return sph_success;
        default:
            return sph_success;  // *NODE, *DENSITY, *ELASTIC, *PLASTIC, *DAMAGE INITIATION
    }
}

// ---------------------------------------------------------------------------
// The two passes.

// Keywords whose data lines the reader drops. (Unknown keywords say so in
// their own warning.)
bool keyword_takes_no_data(int keyword_id) {
    return keyword_id == sph_inp_kw_material || keyword_id == sph_inp_kw_section ||
           keyword_id == sph_inp_kw_velunor;
}

int open_deck(Model& m, SphInpLineReader& reader, std::string_view message) {
    std::string path(sph_text_trim_trailing(m.input.input_current_file));
    if (!reader.open(path)) return sph_error_set(m.error, sph_error_io, message);
    return sph_success;
}

int read_failure(Model& m) {
    return sph_error_set(m.error, sph_error_io, "failed to read input file");
}

// Counting pass: one particle per *NODE data line.
int scan_deck(Model& m, int64_t& node_count) {
    node_count = 0;
    SphInpLineReader reader;
    if (int status = open_deck(m, reader, "failed to open input file")) return status;
    int keyword_id = sph_inp_kw_unknown;
    std::string_view raw;
    while (reader.next(raw)) {
        std::string_view line = sph_inp_clean_line(raw);
        if (line.empty()) continue;
        if (line[0] == '*') {
            keyword_id = sph_inp_keyword_id(line);
        } else if (keyword_id == sph_inp_kw_node) {
            ++node_count;
        }
    }
    if (reader.failed()) return read_failure(m);
    return sph_success;
}

int fill_model(Model& m) {
    SphInpLineReader reader;
    if (int status = open_deck(m, reader, "failed to reopen input file")) return status;
    InputState& in = m.input;
    int keyword_id = sph_inp_kw_unknown;
    int particle_counter = 0;
    int64_t line_number = 0;
    std::string keyword;  // of the latest keyword that takes no data lines
    bool data_warned = false;
    SphCsvFields fields;
    std::string_view raw;
    while (reader.next(raw)) {
        ++line_number;
        in.input_current_line = line_number < INT_MAX ? static_cast<int>(line_number) : INT_MAX;
        std::string_view line = sph_inp_clean_line(raw);
        if (line.empty()) continue;
        if (line[0] == '*') {
            keyword_id = sph_inp_keyword_id(line);
            data_warned = false;
            if (keyword_takes_no_data(keyword_id) && m.log.sph_log_is_open) {
                keyword = keyword_name(line);
            }
            if (int status = record_keyword(m, line, keyword_id)) {
                sph_input_prefix_current_error(m);
                return status;
            }
        } else if (int status = parse_data_line(m, keyword_id, line, fields, particle_counter)) {
            return status;
        } else if (!data_warned && keyword_takes_no_data(keyword_id)) {
            // Once per keyword: the data lines under it are all dropped alike.
            data_warned = true;
            sph_input_warn(m, "data lines under " + keyword + " are ignored (it takes none)");
        }
    }
    if (reader.failed()) return read_failure(m);
    return sph_success;
}

}  // namespace

// ---------------------------------------------------------------------------

void sph_input_reset(Model& m) {
    m.input = InputState{};
    sph_blast_reset(m.blast);
    sph_blast_load_reset(m.blast_load);
}

int sph_input_get_warning_count(const Model& m) {
    return m.input.input_warning_count;
}

void sph_input_log_names(Model& m) {
    if (!m.log.sph_log_is_open) return;
    for (std::size_t k = 0; k < m.db.materials.size(); ++k) {
        sph_log_info(m.log,
                     "material " + std::to_string(k + 1) + " " + m.db.materials[k].material_name);
    }
    for (std::size_t k = 0; k < m.db.sections.size(); ++k) {
        sph_log_info(m.log,
                     "section " + std::to_string(k + 1) + " " + m.db.sections[k].section_name);
    }
}

void sph_input_warn(Model& m, std::string_view text) {
    if (!m.log.sph_log_is_open) return;
    sph_log_info(m.log, "warning " + sph_input_prefixed_message(m, text));
}

void sph_input_warn_unknown_option(Model& m, std::string_view name, std::string_view keyword,
                                   std::span<const std::string_view> known) {
    if (!m.log.sph_log_is_open) return;
    sph_input_warn(m, "unknown option " + std::string(name) + " of " + std::string(keyword) +
                          did_you_mean(name, known));
}

void sph_input_warn_option_without_value(Model& m, std::string_view field,
                                         std::string_view keyword) {
    sph_input_warn(m, "option " + std::string(field) + " of " + std::string(keyword) +
                          " has no value (no \"=\") and is ignored");
}

void sph_input_warn_trailing_text(Model& m, std::string_view value, std::string_view name) {
    if (!m.log.sph_log_is_open) return;
    const std::string_view item = sph_number_first_item(value);
    const std::size_t end = static_cast<std::size_t>(item.data() - value.data()) + item.size();
    const std::string_view rest = sph_text_trim(value.substr(end));
    if (rest.empty()) return;
    sph_input_warn(m, "text \"" + std::string(rest) + "\" after the value of " + std::string(name) +
                          " is ignored");
}

std::string_view sph_input_get_option(std::string_view line, std::string_view name) {
    std::string_view wanted = sph_text_trim(name);
    SphCsvFields fields;
    sph_inp_split_csv(line, fields);
    for (int k = 0; k < fields.count; ++k) {
        std::string_view field = fields.field[static_cast<std::size_t>(k)];
        std::size_t eq = field.find('=');
        if (eq == std::string_view::npos) continue;
        if (!sph_text_name_equal(sph_text_trim(field.substr(0, eq)), wanted)) continue;
        return sph_text_trim(field.substr(eq + 1));
    }
    return {};
}

bool sph_input_option_present(std::string_view line, std::string_view name) {
    std::string_view wanted = sph_text_trim(name);
    SphCsvFields fields;
    sph_inp_split_csv(line, fields);
    for (int k = 0; k < fields.count; ++k) {
        std::string_view field = fields.field[static_cast<std::size_t>(k)];
        std::size_t eq = field.find('=');
        if (eq != std::string_view::npos &&
            sph_text_name_equal(sph_text_trim(field.substr(0, eq)), wanted)) {
            return true;
        }
    }
    return false;
}

namespace {

// A numeric option's value, named in the error; text after the number is
// dropped with a warning.
int read_real_option(Model& m, std::string_view text, std::string_view name, double& value) {
    if (int status = sph_input_parse_real_value(m, text, value,
                                                "invalid numeric option " + std::string(name))) {
        return status;
    }
    sph_input_warn_trailing_text(m, text, name);
    return sph_success;
}

}  // namespace

int sph_input_get_required_real(Model& m, std::string_view line, std::string_view name,
                                double& value) {
    value = 0.0;
    std::string_view text = sph_input_get_option(line, name);
    if (text.empty()) {
        return sph_input_set_error(m, "missing required option " + std::string(name));
    }
    return read_real_option(m, text, name, value);
}

int sph_input_get_optional_real(Model& m, std::string_view line, std::string_view name,
                                double& value) {
    std::string_view text = sph_input_get_option(line, name);
    if (text.empty()) return sph_success;
    return read_real_option(m, text, name, value);
}

int sph_input_parse_real_value(Model& m, std::string_view text, double& value,
                               std::string_view message) {
    if (!sph_number_read_real(text, value)) return sph_input_set_error(m, message);
    return sph_success;
}

int sph_input_parse_integer_value(Model& m, std::string_view text, int& value,
                                  std::string_view message) {
    if (!sph_number_read_int(text, value)) return sph_input_set_error(m, message);
    return sph_success;
}

int sph_input_parse_logical_value(Model& m, std::string_view text, bool& value,
                                  std::string_view message) {
    std::string_view word = sph_text_trim(text);
    for (std::string_view yes : {"TRUE", "YES", "ON", "1"}) {
        if (sph_text_name_equal(word, yes)) {
            value = true;
            return sph_success;
        }
    }
    for (std::string_view no : {"FALSE", "NO", "OFF", "0"}) {
        if (sph_text_name_equal(word, no)) {
            value = false;
            return sph_success;
        }
    }
    return sph_input_set_error(m, message);
}

std::string sph_input_prefixed_message(const Model& m, std::string_view message) {
    std::string text(sph_text_trim_trailing(m.input.input_current_file));
    text += ':';
    text += std::to_string(m.input.input_current_line);
    text += ": ";
    text += sph_text_trim(message);
    // Built in a 1024-character buffer.
    return sph_text_field(text, sph_input_path_len);
}

int sph_input_set_error(Model& m, std::string_view message) {
    return sph_error_set(m.error, sph_error_input, sph_input_prefixed_message(m, message));
}

void sph_input_prefix_current_error(Model& m) {
    std::string file(sph_text_trim_trailing(m.input.input_current_file));
    const std::string& message = m.error.last_error_message;
    if (message.size() > file.size() && message.compare(0, file.size(), file) == 0 &&
        message[file.size()] == ':') {
        return;
    }
    sph_error_set(m.error, m.error.last_error_code, sph_input_prefixed_message(m, message));
}

bool sph_input_real_is_finite(double value) {
    return !std::isnan(value) && std::fabs(value) <= sph_input_real_limit;
}

int sph_input_read(Model& m, std::string_view path) {
    sph_input_reset(m);
    m.input.input_current_file = std::string(path.substr(0, sph_input_path_len));

    int64_t node_count = 0;
    if (int status = scan_deck(m, node_count)) return status;
    if (node_count > INT_MAX) {
        return sph_error_set(m.error, sph_error_database, "failed to allocate particle database");
    }
    if (int status = sph_db_allocate(m, static_cast<int>(node_count))) return status;
    if (node_count == 0) {
        // Nothing else is read; building reports the missing *NODE data.
        sph_db_free(m.db);
        return sph_success;
    }
    return fill_model(m);
}

int sph_input_apply_initial_velocities(Model& m) {
    DbState& db = m.db;
    const auto fail_at = [&](int line, std::string message) {
        m.input.input_current_line = line;
        return sph_input_set_error(m, message);
    };
    // Each named set is looked up once (1-based, 0 = not a node set).
    std::vector<int> set_of_name(db.initial_velocity_set_names.size(), -1);
    for (const InitialVelocityRecord& r : db.initial_velocities) {
        const int c = r.dof - 1;
        if (r.set_name_index < 0) {
            const int p = sph_db_find_node(db, r.node_id);
            if (p < 0) {
                return fail_at(r.line, "initial velocity references unknown node " +
                                           std::to_string(r.node_id));
            }
            db.v[static_cast<std::size_t>(p)][c] = r.value;
            continue;
        }
        const std::size_t name = static_cast<std::size_t>(r.set_name_index);
        if (set_of_name[name] < 0) {
            set_of_name[name] = sph_db_find_nset(db, db.initial_velocity_set_names[name]);
        }
        if (set_of_name[name] == 0) {
            return fail_at(r.line, "initial velocity references unknown node set " +
                                       db.initial_velocity_set_names[name]);
        }
        const SetRecord& set = db.nsets[static_cast<std::size_t>(set_of_name[name] - 1)];
        sph_db_for_each_nset_particle(db, set, [&](int p) {
            db.v[static_cast<std::size_t>(p)][c] = r.value;
            return true;
        });
    }
    return sph_success;
}

int sph_input_build_model(Model& m) {
    const InputState& in = m.input;
    if (m.db.npart <= 0) {
        return sph_error_set(m.error, sph_error_input, "input is missing *NODE particle data");
    }
    if (!in.input_has_material) {
        return sph_error_set(m.error, sph_error_input, "input is missing *MATERIAL data");
    }
    if (!in.input_has_section) {
        return sph_error_set(m.error, sph_error_input, "input is missing *SECTION data");
    }
    if (!in.input_has_time_control) {
        return sph_error_set(m.error, sph_error_input,
                             "input is missing *VELUNOR time control data");
    }
    // Forces carried from a model before this build describe another state.
    sph_solver_reset(m.solver);
    if (int status = sph_db_apply_sections_to_particles(m)) return status;
    // Right after the sections, so every later step and the first step see them.
    if (int status = sph_input_apply_initial_velocities(m)) return status;
    if (int status = sph_db_build_coupling_regions(m)) return status;
    if (int status = sph_solid_build_state(m)) return status;
    if (int status = sph_shell_build_state(m)) return status;
    if (int status = sph_water_apply_initial_conditions(m)) return status;
    if (int status = sph_gas_apply_initial_conditions(m)) return status;
    if (int status = sph_explosive_build(m)) return status;
    if (int status = sph_blast_load_compute(m)) return status;
    // Warnings: unbound gas, explosive, solid and shell materials, unused
    // shell orientations, then unused blast regions.
    m.input.input_warning_count += sph_gas_count_unbound_materials(m);
    m.input.input_warning_count += sph_explosive_count_unbound_materials(m);
    m.input.input_warning_count += sph_solid_count_unbound_materials(m);
    m.input.input_warning_count += sph_shell_count_unbound_materials(m);
    m.input.input_warning_count += sph_shell_count_unused_orientations(m);
    m.input.input_warning_count += sph_blast_count_unused_regions(m.blast);
    if (int status = sph_solid_build_reference_state(m)) return status;
    if (int status = sph_solid_update_diagnostics(m)) return status;
    // The neighbor search depends on positions and h alone, and nothing has
    // moved since the solid reference search ran it.
    if (m.solid.neighbors_current_at_reference) return sph_success;
    return sph_neighbor_rebuild(m);
}
