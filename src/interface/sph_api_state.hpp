#pragma once
// The two life-cycle flags of the library.

struct ApiState {
    bool sph_api_initialized = false;
    bool sph_api_model_built = false;
};

// Clearing the initialized flag also clears the model flag.
void sph_api_state_set_initialized(ApiState& state, bool flag);
bool sph_api_state_get_initialized(const ApiState& state);
void sph_api_state_set_model_built(ApiState& state, bool flag);
bool sph_api_state_get_model_built(const ApiState& state);
