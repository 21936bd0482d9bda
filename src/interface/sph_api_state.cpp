#include "interface/sph_api_state.hpp"

void sph_api_state_set_initialized(ApiState& state, bool flag) {
    state.sph_api_initialized = flag;
    if (!flag) state.sph_api_model_built = false;
}

bool sph_api_state_get_initialized(const ApiState& state) {
    return state.sph_api_initialized;
}

void sph_api_state_set_model_built(ApiState& state, bool flag) {
    state.sph_api_model_built = flag;
}

bool sph_api_state_get_model_built(const ApiState& state) {
    return state.sph_api_model_built;
}
