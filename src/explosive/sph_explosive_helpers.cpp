#include "explosive/sph_explosive_helpers.hpp"

#include "core/sph_error.hpp"
#include "core/sph_model.hpp"
#include "core/sph_text.hpp"

bool sph_explosive_is_active_particle(const DbState& db, int i) {
    return i >= 0 && i < db.npart && db.particle_phase[i] == sph_phase_explosive &&
           db.particle_status[i] == sph_status_active;
}

bool sph_explosive_is_tracked(const ExplosiveState& ex, const DbState& db, int i) {
    if (i < 0 || i >= db.npart || ex.explosive_ignition_status.size() != std::size_t(db.npart)) {
        return false;
    }
    return ex.explosive_ignition_status[i] == 1 || ex.explosive_reaction_progress[i] > 0.0;
}

bool sph_explosive_is_gas_target(const DbState& db, int i, int product_material) {
    return db.particle_phase[i] == sph_phase_gas && db.particle_status[i] == sph_status_active &&
           db.material_id[i] == product_material;
}

int sph_explosive_find_material(const Model& m, std::string_view name) {
    return sph_db_find_material(m.db, name);
}

int sph_explosive_slot_of_material(const ExplosiveState& ex, int material_index) {
    for (std::size_t k = 0; k < ex.slots.size(); ++k) {
        if (ex.slots[k].explosive_material_id == material_index) return static_cast<int>(k) + 1;
    }
    return 0;
}

int sph_explosive_register_material(Model& m, std::string_view name) {
    const int index = sph_explosive_find_material(m, name);
    if (index == 0) return 0;
    ExplosiveState& ex = m.explosive;
    if (const int slot = sph_explosive_slot_of_material(ex, index); slot > 0) return slot;
    if (static_cast<int>(ex.slots.size()) >= sph_explosive_max_materials) return 0;
    const MaterialRecord& material = m.db.materials[static_cast<std::size_t>(index - 1)];
    ExplosiveMaterialSlot slot;
    slot.explosive_material_id = index;
    slot.explosive_material_name = material.material_name;
    slot.explosive_density0 = material.material_density;
    ex.slots.push_back(std::move(slot));
    return static_cast<int>(ex.slots.size());
}

int sph_explosive_prepare_material(Model& m, std::string_view name, int& slot) {
    slot = 0;
    const int index = sph_explosive_find_material(m, name);
    if (index == 0) {
        return sph_error_set(m.error, sph_error_input,
                             "Explosive control references unknown material");
    }
    const MaterialRecord& material = m.db.materials[static_cast<std::size_t>(index - 1)];
    if (!sph_text_contains_upper(material.material_type, "EXPLOSIVE")) {
        return sph_error_set(m.error, sph_error_input,
                             "Explosive control references non-Explosive material");
    }
    slot = sph_explosive_register_material(m, name);
    if (slot == 0) {
        return sph_error_set(m.error, sph_error_input, "too many Explosive material records");
    }
    return sph_success;
}

int sph_explosive_validate_product(Model& m, int product_material) {
    if (product_material < 1 || product_material > static_cast<int>(m.db.materials.size())) {
        return sph_error_set(m.error, sph_error_input, "Explosive product material is unknown");
    }
    const MaterialRecord& product = m.db.materials[static_cast<std::size_t>(product_material - 1)];
    if (!sph_text_contains_upper(product.material_type, "GAS")) {
        return sph_error_set(m.error, sph_error_input, "Explosive product material must be Gas");
    }
    const int row = sph_gas_table_index_by_material_id(m.gas, product_material);
    if (row == 0 || !m.gas.rows[static_cast<std::size_t>(row - 1)].gas_material_eos_defined) {
        return sph_error_set(m.error, sph_error_input, "Explosive product Gas material has no EOS");
    }
    return sph_success;
}
