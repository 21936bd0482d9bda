#include "material/sph_material.hpp"

void sph_material_initialize(MaterialModuleState& state) {
    state.material_module_initialized = true;
}
void sph_material_reset(MaterialModuleState& state) {
    state.material_module_initialized = false;
}
