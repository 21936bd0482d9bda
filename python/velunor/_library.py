"""Loading libvelunor_c and declaring the 50 exports for ctypes."""

import ctypes
import os

from ctypes import POINTER, c_char_p, c_double, c_int

_int_p = POINTER(c_int)
_double_p = POINTER(c_double)

# Every export returns int; the argument types in the order of velunor.h.
_PROTOTYPES = {
    "velunor_initialize": [],
    "velunor_finalize": [],
    "velunor_get_version": [_int_p, _int_p, _int_p],
    "velunor_get_last_error": [_int_p, ctypes.c_char_p, c_int],
    "velunor_read_inp": [c_char_p],
    "velunor_build_model": [],
    "velunor_estimate_stable_dt": [_double_p],
    "velunor_advance_explicit": [c_double],
    "velunor_run_explicit": [],
    "velunor_get_current_time": [_double_p, _int_p],
    "velunor_get_particle_count": [_int_p],
    "velunor_get_input_warning_count": [_int_p],
    "velunor_set_output_directory": [c_char_p],
    "velunor_set_output_interval": [c_int],
    "velunor_write_output": [c_int, c_double],
    "velunor_get_particle_state": [c_int] + [_int_p] * 5 + [_double_p] * 8 + [_int_p],
    "velunor_write_csv": [c_char_p],
    "velunor_write_vtu": [c_char_p],
    "velunor_write_restart": [c_char_p],
    "velunor_read_restart": [c_char_p],
    "velunor_get_water_summary": [_double_p] * 5,
    "velunor_get_water_dt_limits": [_double_p] * 3,
    "velunor_get_gas_summary": [_double_p] * 4,
    "velunor_get_gas_bubble_metrics": [_double_p] * 3,
    "velunor_get_gas_dt_limits": [_double_p] * 3,
    "velunor_get_gas_extended_summary": [_double_p] * 4,
    "velunor_get_gas_source_summary": [_double_p] * 3,
    "velunor_set_ignition_point": [c_double] * 4,
    "velunor_get_explosive_summary": [_int_p, _int_p, _double_p, _double_p, _double_p],
    "velunor_get_explosive_release_balance": [_double_p] * 3,
    "velunor_coupling_get_region_count": [_int_p],
    "velunor_coupling_get_region_info": [c_int, ctypes.c_char_p, c_int] + [_int_p] * 6,
    "velunor_coupling_get_region_modes": [c_int, _int_p, _int_p, _int_p],
    "velunor_coupling_export_particles": [c_int, c_int, _int_p] + [_int_p] * 6
    + [_double_p, _double_p],
    "velunor_coupling_export_facets": [c_int, c_int, _int_p] + [_int_p] * 4
    + [_double_p, _double_p],
    "velunor_coupling_apply_particle_forces": [c_int, c_int, _int_p, _double_p],
    "velunor_coupling_apply_facet_loads": [c_int, c_int, _int_p, _double_p],
    "velunor_coupling_apply_facet_pressures": [c_int, c_int, _int_p, _double_p, c_int, c_int],
    "velunor_coupling_apply_facet_tractions": [c_int, c_int, _int_p, _double_p, c_int, c_int],
    "velunor_coupling_apply_facet_resultants": [c_int, c_int, _int_p, _double_p, c_int, c_int],
    "velunor_coupling_apply_contact_state": [c_int, c_int, _int_p] + [_double_p] * 4 + [c_int],
    "velunor_coupling_apply_motion_boundary": [c_int, c_int, c_int, c_int, _double_p],
    "velunor_coupling_clear_imports": [],
    "velunor_coupling_get_load_balance": [_double_p] * 6,
    "velunor_coupling_get_contact_diagnostics": [_int_p, c_int, _double_p, c_int],
    "velunor_coupling_get_diagnostics": [_double_p, c_int, _int_p, c_int],
    "velunor_get_solid_summary": [_int_p, _int_p, _double_p, c_int],
    "velunor_get_solid_particle_state": [c_int, _double_p, c_int] + [_int_p] * 5,
    "velunor_get_solid_diagnostics": [_double_p, c_int],
    "velunor_get_solid_reference_quality": [_int_p, _int_p, _double_p, c_int],
}

LIBRARY_NAME = "libvelunor_c.so"


def library_path():
    """The library to load: $VELUNOR_LIBRARY, else the installed one, else
    the bare name for the system loader."""
    path = os.environ.get("VELUNOR_LIBRARY")
    if path:
        return path
    try:
        from . import _config  # written by `cmake --install`
    except ImportError:
        return LIBRARY_NAME
    path = getattr(_config, "LIBRARY", "")
    # An install tree that was moved: leave the search to the system loader.
    return path if path and os.path.exists(path) else LIBRARY_NAME


def load(path=None):
    """Loads the library and declares every export; OSError when it cannot
    be loaded or lacks an export."""
    lib = ctypes.CDLL(path or library_path())
    for name, argtypes in _PROTOTYPES.items():
        function = getattr(lib, name)
        function.argtypes = argtypes
        function.restype = c_int
    return lib


EXPORT_COUNT = len(_PROTOTYPES)
