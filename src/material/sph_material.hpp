#pragma once
// The material module holds only its initialization flag.

struct MaterialModuleState {
    bool material_module_initialized = false;
};

void sph_material_initialize(MaterialModuleState& state);
void sph_material_reset(MaterialModuleState& state);
