#include "output/sph_output_vtu.hpp"

void sph_output_reset_pvd(PvdState& pvd) { pvd.entries.clear(); }
