"""The Model class: one Velunor model driven through the C API."""

import ctypes
import math
import os
import re
import sys
import time as _clock
import weakref

from ctypes import byref, c_double, c_int

import numpy as np

from . import _library

REJECTED = -1
REJECTED_MESSAGE = "the C layer rejected the arguments (the library records no message for -1)"

_INT32_MIN, _INT32_MAX = -(2**31), 2**31 - 1
_SOLID_VALUES = 22  # per particle in velunor_get_solid_particle_state


class VelunorError(RuntimeError):
    """A failed call. `status` is the library's status (1-6) with its
    last-error text as `message`, or -1 when the call was refused before
    anything changed: by the C layer, or by these bindings' own argument
    checks, whose message then says what was wrong."""

    def __init__(self, status, message, call=None):
        self.status = status
        self.message = message
        self.call = call
        where = f"{call}: " if call else ""
        super().__init__(f"{where}{message} (status {status})")


class Arrays(dict):
    """A dict of named values whose keys also read as attributes."""

    def __getattr__(self, name):
        try:
            return self[name]
        except KeyError:
            raise AttributeError(name) from None

    def __dir__(self):
        return list(self.keys()) + list(super().__dir__())


# --- the library, loaded once per process -------------------------------

_lib = None


def _get_lib():
    global _lib
    if _lib is None:
        path = _library.library_path()
        try:
            _lib = _library.load(path)
        except (OSError, AttributeError) as error:
            message = f"cannot load the Velunor library {path}: {error}"
            raise VelunorError(REJECTED, message) from None
    return _lib


def _last_error():
    code = c_int(0)
    text = ctypes.create_string_buffer(512)
    if _get_lib().velunor_get_last_error(byref(code), text, len(text)) != 0:
        return 0, ""
    return code.value, text.value.decode("utf-8", errors="replace")


def _check(status, call):
    if status == 0:
        return
    if status == REJECTED:
        raise VelunorError(REJECTED, REJECTED_MESSAGE, call)
    raise VelunorError(status, _last_error()[1], call)


def version():
    """The library version as (major, minor, patch); needs no model."""
    values = [c_int(0), c_int(0), c_int(0)]
    _check(_get_lib().velunor_get_version(*map(byref, values)), "velunor_get_version")
    return tuple(v.value for v in values)


# --- argument checks: bad input is refused here, never passed on --------


def _refuse(message):
    raise VelunorError(REJECTED, message)


def _int32(name, value):
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
        _refuse(f"{name} must be an integer, not {type(value).__name__}")
    value = int(value)
    if not _INT32_MIN <= value <= _INT32_MAX:
        _refuse(f"{name} {value} does not fit a 32-bit integer")
    return value


def _real(name, value):
    if isinstance(value, bool) or not isinstance(value, (int, float, np.integer, np.floating)):
        _refuse(f"{name} must be a real number, not {type(value).__name__}")
    return float(value)


def _finite(name, value):
    value = _real(name, value)
    if not math.isfinite(value):
        _refuse(f"{name} must be finite, not {value}")
    return value


def _path(name, path):
    try:
        raw = os.fsencode(path)
    except TypeError:
        _refuse(f"{name} must be a path, not {type(path).__name__}")
    if b"\0" in raw:
        _refuse(f"{name} contains a NUL byte")
    return raw


def _real_array(name, values, shape):
    """`values` as a C-contiguous float64 array of exactly `shape`, all
    finite."""
    array = np.asarray(values)
    if array.dtype.kind not in "iuf":
        _refuse(f"{name} must hold real numbers, not {array.dtype}")
    if array.shape != shape:
        _refuse(f"{name} must have shape {shape}, not {array.shape}")
    array = np.ascontiguousarray(array, dtype=np.float64)
    if not np.isfinite(array).all():
        _refuse(f"{name} holds a NaN or infinite value")
    return array


def _index_array(name, values):
    """`values` as a C-contiguous 1-D int32 array."""
    array = np.asarray(values)
    if array.ndim != 1:
        _refuse(f"{name} must be one-dimensional, not of shape {array.shape}")
    if array.size and array.dtype.kind not in "iu":
        _refuse(f"{name} must hold integers, not {array.dtype}")
    if array.size and (array.min() < _INT32_MIN or array.max() > _INT32_MAX):
        _refuse(f"{name} holds a value that does not fit a 32-bit integer")
    return np.ascontiguousarray(array, dtype=np.int32)


def _ip(array):
    return array.ctypes.data_as(ctypes.POINTER(c_int))


def _dp(array):
    return array.ctypes.data_as(ctypes.POINTER(c_double))


# --- the one-model rule --------------------------------------------------

_owner = None  # weak reference to the Model that holds the library


class Region:
    """A coupling region as the exchange sees it (codes as in velunor.h's
    documentation: export 1 particles, 2 facets, 3 both; import 1 force,
    2 facet load, 3 motion; load 1 particle force, 2 facet force,
    3 pressure, 4 traction; distribution 1 uniform, 2 area, 3 mass; contact
    state 0 none, 1 import)."""

    __slots__ = ("index", "name", "type", "export_mode", "import_mode", "enabled",
                 "particle_count", "facet_count", "load_mode", "distribution_mode",
                 "contact_state_mode")

    def __init__(self, **values):
        for key in self.__slots__:
            setattr(self, key, values[key])

    def __repr__(self):
        fields = ", ".join(f"{key}={getattr(self, key)!r}" for key in self.__slots__)
        return f"Region({fields})"

    def __eq__(self, other):
        return isinstance(other, Region) and all(
            getattr(self, k) == getattr(other, k) for k in self.__slots__)


class _Progress:
    """One refreshed line on stderr while stepping, when it is a terminal."""

    def __init__(self, enabled):
        self.enabled = enabled and hasattr(sys.stderr, "isatty") and sys.stderr.isatty()
        self.shown = False
        self.last = 0.0

    def update(self, step, now, end, force=False):
        if not self.enabled:
            return
        wall = _clock.monotonic()
        if not force and wall - self.last < 0.1:
            return
        self.last = wall
        share = 100.0 * now / end if end > 0 else 100.0
        sys.stderr.write(
            f"\rvelunor: step {step}  time {now:.6g} / {end:.6g} s  ({share:5.1f} %)\x1b[K")
        sys.stderr.flush()
        self.shown = True

    def finish(self):
        if self.shown:
            sys.stderr.write("\n")
            sys.stderr.flush()


def _deck_end_time(path):
    """The deck's end time as the library's reader takes it, or None: the
    TIME (or END TIME) option of the last *VELUNOR line naming TIME CONTROL.

    The library has no query for it, and run(until=...) must neither step
    past it nor miss it by a rounding, so the reader's rules are followed:
    lines cut to 1024 characters, a byte order mark before the first line,
    blanks trimmed, up to 64 comma-separated fields of at most 256
    characters, keys matched by prefix, a value read up to the next blank,
    tab, comma or slash, with a D or E exponent, a later TIME replacing an
    earlier one."""
    end = None
    try:
        with open(path, "rb") as deck:
            lines = deck.read().split(b"\n")
    except OSError:
        return None
    for number, raw in enumerate(lines):
        if raw.endswith(b"\r"):
            raw = raw[:-1]
        raw = raw[:1024]
        if number == 0 and raw.startswith(b"\xef\xbb\xbf"):
            raw = raw[3:]
        line = raw.decode("latin-1").strip(" ")
        upper = _upper_ascii(line)
        if not upper.startswith("*VELUNOR") or "TIME CONTROL" not in upper:
            continue
        for field in line.split(",")[:64]:
            field = field.strip(" ")[:256].rstrip(" ")
            key, eq, value = field.partition("=")
            key = _upper_ascii(key)
            if not eq or not (key.startswith("TIME") or key.startswith("END TIME")):
                continue
            item = re.split(r"[ \t,/]", value.lstrip(" \t"), maxsplit=1)[0]
            try:
                seconds = float(item.replace("D", "e").replace("d", "e"))
            except ValueError:
                continue
            if seconds > 0.0 and "_" not in item:
                end = seconds
    return end


def _upper_ascii(text):
    return text.translate(_UPPER)


_UPPER = {c: c - 32 for c in range(ord("a"), ord("z") + 1)}


class Model:
    """The library's model, driven from Python.

    The library holds one model per process in module-wide storage and is
    not re-entrant. A new Model takes the library over: it initializes it
    (discarding the previous model) and marks the previous Model closed,
    whose later calls raise VelunorError (status 2). close(), or leaving a
    `with` block, finalizes the library."""

    # run control's end time after velunor_initialize, until a deck sets one
    _DEFAULT_END_TIME = 1.0e-6

    def __init__(self, deck=None):
        global _owner
        lib = _get_lib()
        previous = _owner() if _owner is not None else None
        if previous is not None and previous is not self:
            previous._closed = "this Model is closed: another Model took over the library"
        _owner = weakref.ref(self)
        self._closed = None
        self._lib = lib
        self._end_time = self._DEFAULT_END_TIME
        self._call("velunor_initialize")
        if deck is not None:
            try:
                self.read_deck(deck)
            except VelunorError:
                self.close()
                raise

    # -- life cycle --

    def _live(self):
        if self._closed is not None:
            raise VelunorError(2, self._closed)
        return self._lib

    def _call(self, name, *args):
        _check(getattr(self._live(), name)(*args), name)

    @property
    def closed(self):
        return self._closed is not None

    def close(self):
        """Finalizes the library if this Model still holds it; idempotent."""
        global _owner
        if self._closed is not None:
            return
        self._closed = "this Model is closed"
        if _owner is not None and _owner() is self:
            _owner = None
            self._lib.velunor_finalize()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    @staticmethod
    def version():
        return version()

    def read_deck(self, path):
        """Reads a deck (velunor_read_inp); the model is then not built."""
        raw = _path("deck", path)
        self._call("velunor_read_inp", raw)
        end = _deck_end_time(raw)
        if end is not None:
            self._end_time = end

    def build(self):
        self._call("velunor_build_model")

    # -- stepping --

    def stable_dt(self):
        """The stable time step the library estimates (velunor_estimate_stable_dt)."""
        dt = c_double(0.0)
        self._call("velunor_estimate_stable_dt", byref(dt))
        return dt.value

    def step(self, dt=None):
        """One explicit step of `dt` (None: the stable step estimate); returns dt."""
        dt = self.stable_dt() if dt is None else _real("dt", dt)
        self._call("velunor_advance_explicit", dt)
        return dt

    @property
    def end_time(self):
        """The time the library's run stops at: the deck's TIME (1e-6 s,
        the library's default, before a deck sets it)."""
        return self._end_time

    def run(self, until=None, progress=True):
        """Steps of the stable size to min(until, the deck's end time), the
        whole run when `until` is None, the last one shortened to land
        there exactly as the library's run lands on its end time; returns
        the number of steps taken. The deck's STEPS (the limit of one
        library run call) does not cut it short. With `progress`, a
        refreshed one-line progress on stderr when it is a terminal."""
        target = self._end_time if until is None else _finite("until", until)
        deck_end = target >= self._end_time
        end = self._end_time if deck_end else target
        meter = _Progress(progress)
        steps = 0
        try:
            now = self.time
            while now < end:
                dt = self.stable_dt()
                if now + dt > end:
                    dt = end - now
                    if now + dt != end and deck_end:
                        # The library's run lands on its end time exactly.
                        self._call("velunor_run_explicit")
                    elif now + dt != end and dt <= 4.0 * sys.float_info.epsilon * abs(end):
                        break  # a rounding residue, no step
                    else:
                        self._call("velunor_advance_explicit", dt)
                else:
                    self._call("velunor_advance_explicit", dt)
                steps += 1
                now = self.time
                meter.update(self.step_count, now, self._end_time)
            meter.update(self.step_count, now, self._end_time, force=True)
        finally:
            meter.finish()
        return steps

    # -- scalar queries --

    def _time(self):
        t, n = c_double(0.0), c_int(0)
        self._call("velunor_get_current_time", byref(t), byref(n))
        return t.value, n.value

    @property
    def time(self):
        return self._time()[0]

    @property
    def step_count(self):
        return self._time()[1]

    def _count(self, name):
        n = c_int(0)
        self._call(name, byref(n))
        return n.value

    @property
    def particle_count(self):
        return self._count("velunor_get_particle_count")

    @property
    def warning_count(self):
        return self._count("velunor_get_input_warning_count")

    # -- particle arrays --

    def particles(self):
        """The state of every particle, from one velunor_get_particle_state
        call into fresh numpy arrays (particle k at row k-1)."""
        n = self.particle_count
        cap = max(n, 1)  # the C layer needs room for one
        ints = [np.zeros(cap, np.int32) for _ in range(5)]
        vectors = [np.zeros((cap, 3)) for _ in range(3)]
        scalars = [np.zeros(cap) for _ in range(5)]
        count = c_int(0)
        self._call("velunor_get_particle_state", cap, *map(_ip, ints), *map(_dp, vectors),
                   *map(_dp, scalars), byref(count))
        n = count.value
        names_i = ("particle_id", "phase", "status", "material", "section")
        names_v = ("positions", "velocities", "accelerations")
        names_s = ("density", "pressure", "internal_energy", "temperature", "smoothing_length")
        result = Arrays(count=n)
        result.update((k, a[:n]) for k, a in zip(names_i, ints))
        result.update((k, a[:n]) for k, a in zip(names_v, vectors))
        result.update((k, a[:n]) for k, a in zip(names_s, scalars))
        return result

    def solid_state(self):
        """Per-particle solid state (velunor_get_solid_particle_state): the
        22 values as named arrays (tensors xx, yy, zz, xy, yz, xz) and the
        four integer arrays; particles that are not solid hold zeros."""
        cap = max(self.particle_count, 1)
        values = np.zeros((cap, _SOLID_VALUES))
        ints = [np.zeros(cap, np.int32) for _ in range(4)]
        count = c_int(0)
        self._call("velunor_get_solid_particle_state", cap, _dp(values), values.size,
                   *map(_ip, ints), byref(count))
        n = count.value
        v = values[:n]
        return Arrays(
            count=n, stress=v[:, 0:6], strain=v[:, 6:12], strain_rate=v[:, 12:18],
            plastic_strain=v[:, 18], damage=v[:, 19], softening=v[:, 20],
            equivalent_strain_rate=v[:, 21], failure_status=ints[0][:n],
            reference_neighbor_count=ints[1][:n], reference_degenerate=ints[2][:n],
            correction_status=ints[3][:n])

    # -- phase summaries --

    def _doubles(self, name, *sizes):
        arrays = [np.zeros(n) for n in sizes]
        self._call(name, *map(_dp, arrays))
        return [float(a[0]) if a.size == 1 else a for a in arrays]

    def water_summary(self):
        mass, momentum, max_p, min_rho, max_rho = self._doubles(
            "velunor_get_water_summary", 1, 3, 1, 1, 1)
        return Arrays(mass=mass, momentum=momentum, max_pressure=max_p, min_density=min_rho,
                      max_density=max_rho)

    def water_dt_limits(self):
        cfl, accel, viscous = self._doubles("velunor_get_water_dt_limits", 1, 1, 1)
        return Arrays(dt_cfl=cfl, dt_accel=accel, dt_viscous=viscous)

    def gas_summary(self):
        volume, center, mean_p, max_p = self._doubles("velunor_get_gas_summary", 1, 3, 1, 1)
        return Arrays(volume=volume, center=center, mean_pressure=mean_p, max_pressure=max_p)

    def gas_bubble_metrics(self):
        radius, rate, center = self._doubles("velunor_get_gas_bubble_metrics", 1, 1, 3)
        return Arrays(equivalent_radius=radius, radius_rate=rate, center=center)

    def gas_dt_limits(self):
        cfl, accel, dtcrit = self._doubles("velunor_get_gas_dt_limits", 1, 1, 1)
        return Arrays(dt_cfl=cfl, dt_accel=accel, dtcrit=dtcrit)

    def gas_extended_summary(self):
        mass, momentum, rho, dt = self._doubles("velunor_get_gas_extended_summary", 1, 3, 2, 3)
        return Arrays(mass=mass, momentum=momentum, min_density=float(rho[0]),
                      max_density=float(rho[1]), dt_cfl=float(dt[0]), dt_accel=float(dt[1]),
                      dtcrit=float(dt[2]))

    def gas_source_summary(self):
        mass, momentum, energy = self._doubles("velunor_get_gas_source_summary", 1, 3, 1)
        return Arrays(mass_source=mass, momentum_source=momentum, energy_source=energy)

    def set_ignition_point(self, x, y, z, time=0.0):
        self._call("velunor_set_ignition_point", _real("x", x), _real("y", y), _real("z", z),
                   _real("time", time))

    def explosive_summary(self):
        counts = [c_int(0), c_int(0)]
        lam, released, detonation = np.zeros(3), np.zeros(5), np.zeros(2)
        self._call("velunor_get_explosive_summary", byref(counts[0]), byref(counts[1]),
                   _dp(lam), _dp(released), _dp(detonation))
        return Arrays(particle_count=counts[0].value, reacted_count=counts[1].value,
                      min_lambda=float(lam[0]), max_lambda=float(lam[1]),
                      mean_lambda=float(lam[2]), released_mass=float(released[0]),
                      released_energy=float(released[1]), released_momentum=released[2:5],
                      min_detonation_time=float(detonation[0]),
                      max_detonation_time=float(detonation[1]))

    def explosive_release_balance(self):
        mass, energy, momentum = self._doubles("velunor_get_explosive_release_balance", 4, 2, 3)
        return Arrays(initial_mass=float(mass[0]), released_mass=float(mass[1]),
                      remaining_mass=float(mass[2]), mass_residual=float(mass[3]),
                      released_energy=float(energy[0]), energy_residual=float(energy[1]),
                      released_momentum=momentum)

    def solid_summary(self):
        active, failed = c_int(0), c_int(0)
        v = np.zeros(16)
        self._call("velunor_get_solid_summary", byref(active), byref(failed), _dp(v), v.size)
        f = [float(x) for x in v]
        return Arrays(active_count=active.value, failed_count=failed.value, mass=f[0],
                      momentum=v[1:4], kinetic_energy=f[4], internal_energy=f[5],
                      max_von_mises_stress=f[6], min_plastic_strain=f[7],
                      max_plastic_strain=f[8], min_damage=f[9], max_damage=f[10],
                      min_softening=f[11], max_softening=f[12], dt_cfl=f[13], dt_accel=f[14],
                      dt_limit=f[15])

    def solid_diagnostics(self):
        v = np.zeros(3)
        self._call("velunor_get_solid_diagnostics", _dp(v), v.size)
        return Arrays(max_equivalent_strain_rate=float(v[0]), max_acceleration=float(v[1]),
                      internal_force_residual=float(v[2]))

    def solid_reference_quality(self):
        neighbors, status = c_int(0), c_int(0)
        v = np.zeros(1)
        self._call("velunor_get_solid_reference_quality", byref(neighbors), byref(status),
                   _dp(v), v.size)
        return Arrays(min_reference_neighbors=neighbors.value,
                      max_correction_status=status.value, min_determinant=float(v[0]))

    # -- files and output --

    def set_output_directory(self, path):
        self._call("velunor_set_output_directory", _path("path", path))

    def set_output_interval(self, interval):
        self._call("velunor_set_output_interval", _int32("interval", interval))

    def write_output(self, step=None, time=None):
        """Step output files (CSV, summary, VTU, PVD entry); by default for
        the current step and time."""
        now, count = self._time()
        step = count if step is None else _int32("step", step)
        time = now if time is None else _real("time", time)
        self._call("velunor_write_output", step, time)

    def write_csv(self, path):
        self._call("velunor_write_csv", _path("path", path))

    def write_vtu(self, path):
        self._call("velunor_write_vtu", _path("path", path))

    def write_restart(self, path):
        self._call("velunor_write_restart", _path("path", path))

    def read_restart(self, path):
        """Reads a restart file; the model then counts as built."""
        self._call("velunor_read_restart", _path("path", path))

    # -- coupling exchange --

    def _region_index(self, region):
        if isinstance(region, Region):
            return region.index
        if isinstance(region, str):
            return self.region(region).index
        return _int32("region", region)

    @property
    def regions(self):
        """The coupling regions, index 1 first."""
        count = self._count("velunor_coupling_get_region_count")
        return [self._region(index) for index in range(1, count + 1)]

    def region(self, name):
        """The region called `name` (trailing blanks and case ignored)."""
        wanted = name.rstrip().upper()
        for region in self.regions:
            if region.name.upper() == wanted:
                return region
        _refuse(f"no coupling region named {name!r}")

    def _region(self, index):
        name = ctypes.create_string_buffer(65)
        info = [c_int(0) for _ in range(6)]
        self._call("velunor_coupling_get_region_info", index, name, len(name),
                   *map(byref, info))
        modes = [c_int(0) for _ in range(3)]
        self._call("velunor_coupling_get_region_modes", index, *map(byref, modes))
        i = [v.value for v in info]
        m = [v.value for v in modes]
        return Region(index=index, name=name.value.decode("utf-8", errors="replace"),
                      type=i[0], export_mode=i[1], import_mode=i[2], enabled=bool(i[3]),
                      particle_count=i[4], facet_count=i[5], load_mode=m[0],
                      distribution_mode=m[1], contact_state_mode=m[2])

    def _export(self, name, index, size, n_ints, n_blocks):
        """One export call into buffers of `size` entries, once more at the
        size the library asks for if that was too small."""
        for _ in range(2):
            cap = max(size, 1)
            ints = [np.zeros(cap, np.int32) for _ in range(n_ints)]
            blocks = [np.zeros((cap, k)) for k in n_blocks]
            count = c_int(0)
            status = getattr(self._live(), name)(index, size, byref(count), *map(_ip, ints),
                                                    *map(_dp, blocks))
            if status == 1 and count.value > size:
                size = count.value
                continue
            _check(status, name)
            return count.value, ints, blocks
        _check(status, name)

    def export_particles(self, region):
        """The region's particle export (velunor_coupling_export_particles)."""
        index = self._region_index(region)
        n, ints, (scalars, vectors) = self._export(
            "velunor_coupling_export_particles", index, self._region(index).particle_count, 6,
            (7, 9))
        result = Arrays(count=n)
        for key, a in zip(("particle_id", "index", "phase", "status", "material", "section"),
                          ints):
            result[key] = a[:n]
        for k, key in enumerate(("mass", "volume", "density", "pressure", "internal_energy",
                                 "temperature", "smoothing_length")):
            result[key] = scalars[:n, k].copy()
        for k, key in enumerate(("positions", "velocities", "accelerations")):
            result[key] = vectors[:n, 3 * k:3 * k + 3].copy()
        return result

    def export_facets(self, region):
        """The region's facet export (velunor_coupling_export_facets)."""
        index = self._region_index(region)
        n, ints, (vectors, area) = self._export(
            "velunor_coupling_export_facets", index, self._region(index).facet_count, 4, (9, 1))
        result = Arrays(count=n)
        for key, a in zip(("facet_id", "particle_id", "material", "section"), ints):
            result[key] = a[:n]
        for k, key in enumerate(("positions", "velocities", "normals")):
            result[key] = vectors[:n, 3 * k:3 * k + 3].copy()
        result["area"] = area[:n, 0].copy()
        return result

    def _entries(self, ids_name, ids, *value_specs):
        """ids as int32 and each (name, values, width) as an (n, width)
        float64 array (n,) for width 1."""
        ids = _index_array(ids_name, ids)
        n = ids.size
        arrays = [_real_array(name, values, (n,) if width == 1 else (n, width))
                  for name, values, width in value_specs]
        return n, ids, arrays

    def apply_particle_forces(self, region, export_indices, forces):
        n, ids, (f,) = self._entries("export_indices", export_indices, ("forces", forces, 3))
        self._call("velunor_coupling_apply_particle_forces", self._region_index(region), n,
                   _ip(ids), _dp(f))

    def apply_facet_loads(self, region, facet_ids, loads):
        n, ids, (f,) = self._entries("facet_ids", facet_ids, ("loads", loads, 3))
        self._call("velunor_coupling_apply_facet_loads", self._region_index(region), n, _ip(ids),
                   _dp(f))

    def _apply_facet(self, name, region, facet_ids, values_name, values, width, coupling_step,
                     distribution_mode):
        index = self._region_index(region)
        n, ids, (v,) = self._entries("facet_ids", facet_ids, (values_name, values, width))
        step = _int32("coupling_step", coupling_step)
        if distribution_mode is None:
            distribution_mode = self._region(index).distribution_mode
        self._call(name, index, n, _ip(ids), _dp(v), _int32("distribution_mode",
                                                             distribution_mode), step)

    def apply_facet_pressures(self, region, facet_ids, pressures, *, coupling_step,
                              distribution_mode=None):
        """Pressures, one per facet (None: the region's distribution mode)."""
        self._apply_facet("velunor_coupling_apply_facet_pressures", region, facet_ids,
                          "pressures", pressures, 1, coupling_step, distribution_mode)

    def apply_facet_tractions(self, region, facet_ids, tractions, *, coupling_step,
                              distribution_mode=None):
        self._apply_facet("velunor_coupling_apply_facet_tractions", region, facet_ids,
                          "tractions", tractions, 3, coupling_step, distribution_mode)

    def apply_facet_resultants(self, region, facet_ids, resultants, *, coupling_step,
                               distribution_mode=None):
        self._apply_facet("velunor_coupling_apply_facet_resultants", region, facet_ids,
                          "resultants", resultants, 3, coupling_step, distribution_mode)

    def apply_contact_state(self, region, facet_ids, normals, gaps, penetrations,
                            contact_pressures, *, coupling_step):
        n, ids, arrays = self._entries("facet_ids", facet_ids, ("normals", normals, 3),
                                       ("gaps", gaps, 1), ("penetrations", penetrations, 1),
                                       ("contact_pressures", contact_pressures, 1))
        self._call("velunor_coupling_apply_contact_state", self._region_index(region), n,
                   _ip(ids), *map(_dp, arrays), _int32("coupling_step", coupling_step))

    _MOTION_KINDS = {"velocity": 1, "position": 2}

    def apply_motion_boundary(self, region, export_index, target, kind="velocity", mode=1):
        """A velocity or position target for the particle at `export_index`
        (1-based position in the region's particle export) in the next step."""
        kind = self._MOTION_KINDS.get(kind, kind) if isinstance(kind, str) else kind
        if isinstance(kind, str):
            _refuse(f"motion kind must be 'velocity' or 'position', not {kind!r}")
        t = _real_array("target", target, (3,))
        self._call("velunor_coupling_apply_motion_boundary", self._region_index(region),
                   _int32("export_index", export_index), _int32("kind", kind),
                   _int32("mode", mode), _dp(t))

    def clear_imports(self):
        self._call("velunor_coupling_clear_imports")

    def load_balance(self):
        f_in, f_out, f_err, m_in, m_out, m_err = self._doubles(
            "velunor_coupling_get_load_balance", 3, 3, 1, 3, 3, 1)
        return Arrays(input_force=f_in, distributed_force=f_out, force_error=f_err,
                      input_moment=m_in, distributed_moment=m_out, moment_error=m_err)

    def contact_diagnostics(self):
        counts = np.zeros(7, np.int32)
        value = np.zeros(1)
        self._call("velunor_coupling_get_contact_diagnostics", _ip(counts), counts.size,
                   _dp(value), value.size)
        names = ("active_contacts", "skipped_contacts", "stale_loads", "repeated_imports",
                 "nonfinite_contacts", "bad_facet_areas", "invalid_weights")
        result = Arrays((k, int(c)) for k, c in zip(names, counts))
        result["max_penetration"] = float(value[0])
        return result

    _DIAGNOSTIC_VECTORS = ("step_force", "step_moment", "step_impulse", "cumulative_impulse",
                           "momentum_exchange")
    _DIAGNOSTIC_VALUES = ("step_work", "cumulative_work", "energy_exchange", "max_force",
                          "max_acceleration", "max_velocity_error", "max_position_error",
                          "facet_force_error", "facet_moment_error", "max_pressure",
                          "max_traction", "max_penetration")
    _DIAGNOSTIC_COUNTS = ("stale_loads", "skipped_particles", "nonfinite_imports",
                          "imported_forces", "consumed", "repeated_imports", "duplicate_facets",
                          "invalid_weights", "active_contacts", "skipped_contacts",
                          "nonfinite_contacts", "bad_facet_areas")

    def diagnostics(self):
        """Coupling diagnostics: the last step's and the cumulative exchange
        values and the counters (velunor_coupling_get_diagnostics)."""
        values = np.zeros(27)
        counts = np.zeros(12, np.int32)
        self._call("velunor_coupling_get_diagnostics", _dp(values), values.size, _ip(counts),
                   counts.size)
        result = Arrays()
        for k, key in enumerate(self._DIAGNOSTIC_VECTORS):
            result[key] = values[3 * k:3 * k + 3].copy()
        for k, key in enumerate(self._DIAGNOSTIC_VALUES):
            result[key] = float(values[15 + k])
        result["counts"] = Arrays((k, int(c)) for k, c in zip(self._DIAGNOSTIC_COUNTS, counts))
        return result
