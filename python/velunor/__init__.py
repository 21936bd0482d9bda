"""Velunor, explicit SPH simulations, driven from Python through the
library's C API (ctypes; no compiled extension).

    import velunor
    with velunor.Model("deck.inp") as model:
        model.build()
        model.run(until=1e-4)
        p = model.particles()          # numpy arrays, particle k at row k-1

The library is found through $VELUNOR_LIBRARY, else where `cmake --install`
put it, else by the system loader (libvelunor_c.so). It holds one model per
process: a new Model takes over and closes the previous one.
"""

from ._model import REJECTED, REJECTED_MESSAGE, Arrays, Model, Region, VelunorError, version

# Codes of velunor.h.
PHASE_WATER, PHASE_GAS, PHASE_EXPLOSIVE, PHASE_SOLID, PHASE_SHELL = 1, 2, 3, 4, 5
PHASE_BOUNDARY, PHASE_COUPLING, PHASE_SOLID_FAILED, PHASE_SHELL_FAILED = 6, 7, 8, 9
PARTICLE_ACTIVE, PARTICLE_INACTIVE, PARTICLE_FAILED, PARTICLE_RESERVED = 0, 1, 2, 3
STATUS_SUCCESS, STATUS_ARGUMENT, STATUS_STATE, STATUS_IO = 0, 1, 2, 3
STATUS_INPUT, STATUS_DATABASE, STATUS_NOT_IMPLEMENTED = 4, 5, 6

__all__ = ["Model", "Region", "Arrays", "VelunorError", "version", "REJECTED",
           "REJECTED_MESSAGE"]
