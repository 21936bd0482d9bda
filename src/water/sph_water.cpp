#include "water/sph_water.hpp"

void sph_water_initialize(WaterState& water) {
    water = WaterState{};
    water.water_module_initialized = true;
}

void sph_water_reset(WaterState& water) { water = WaterState{}; }
