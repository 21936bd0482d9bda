"""The Model against the library's own files, closed forms and its failure
statuses."""

import math
import re

import numpy as np
import pytest

import velunor
from velunor import _library
from conftest import EXAMPLES, SOURCE_DIR, Lattice, read_csv


def header_exports():
    """name -> number of parameters, from include/velunor.h."""
    text = (SOURCE_DIR / "include" / "velunor.h").read_text()
    exports = {}
    for name, params in re.findall(r"VELUNOR_API int (velunor_\w+)\(([^)]*)\);", text):
        params = params.strip()
        exports[name] = 0 if params in ("", "void") else params.count(",") + 1
    return exports


def test_every_export_is_declared_with_the_header_arity():
    declared = {name: len(types) for name, types in _library._PROTOTYPES.items()}
    assert len(declared) == 50
    assert declared == header_exports()


def test_particle_arrays_equal_the_csv_of_the_same_state(tmp_path, lattice_deck):
    with velunor.Model(lattice_deck) as model:
        model.build()
        for _ in range(3):
            model.step()
        p = model.particles()
        model.write_csv(tmp_path / "state.csv")
    csv = read_csv(tmp_path / "state.csv")
    assert p.count == len(csv["id"])
    for key, column in (("particle_id", "id"), ("phase", "phase"), ("status", "status"),
                        ("material", "material"), ("section", "section")):
        assert p[key].dtype == np.int32
        np.testing.assert_array_equal(p[key], csv[column].astype(np.int32))
    for key, columns in (("positions", "xyz"), ("velocities", ("vx", "vy", "vz"))):
        np.testing.assert_array_equal(p[key], np.column_stack([csv[c] for c in columns]))
    for key, column in (("density", "rho"), ("pressure", "pressure"),
                        ("temperature", "temperature"), ("smoothing_length", "h")):
        np.testing.assert_array_equal(p[key], csv[column])
    assert p.positions.shape == p.accelerations.shape == (p.count, 3)
    # The release has started: the state compared is not the initial one.
    assert np.abs(p.velocities).max() > 0.0


def test_solid_state_equals_the_csv(tmp_path):
    with velunor.Model(EXAMPLES / "plate_impact.inp") as model:
        model.build()
        model.step()
        model.step()
        s = model.solid_state()
        p = model.particles()
        summary = model.solid_summary()
        model.write_csv(tmp_path / "solid.csv")
    csv = read_csv(tmp_path / "solid.csv")
    solid = p.phase == velunor.PHASE_SOLID
    assert summary.active_count == int(solid.sum()) > 0
    assert s.stress.shape == s.strain.shape == s.strain_rate.shape == (p.count, 6)
    components = ("xx", "yy", "zz", "xy", "yz", "zx")
    np.testing.assert_array_equal(
        s.stress, np.column_stack([csv["solid_stress_" + c] for c in components]))
    for key, column in (("plastic_strain", "solid_plastic_strain"), ("damage", "solid_damage"),
                        ("softening", "solid_softening"),
                        ("equivalent_strain_rate", "solid_strain_rate_eq")):
        np.testing.assert_array_equal(s[key], csv[column])
    for key, column in (("failure_status", "solid_failure_status"),
                        ("reference_neighbor_count", "solid_reference_neighbor_count"),
                        ("correction_status", "solid_correction_status")):
        np.testing.assert_array_equal(s[key], csv[column].astype(np.int32))
    assert np.abs(s.stress[solid]).max() > 0.0
    # 7850 kg/m3 on a 2 mm lattice.
    assert summary.mass == pytest.approx(summary.active_count * 7850.0 * 0.002**3, rel=1e-6)
    assert summary.momentum.shape == (3,)


def test_water_summary_is_the_lattice_mass_at_rest(lattice, lattice_deck):
    with velunor.Model(lattice_deck) as model:
        model.build()
        assert model.particle_count == lattice.count
        assert model.warning_count == 0
        w = model.water_summary()
        volume = lattice.count * lattice.dx**3
        assert w.mass == pytest.approx(lattice.rho0 * volume, rel=1e-13)
        np.testing.assert_array_equal(w.momentum, np.zeros(3))
        assert w.min_density == w.max_density == lattice.rho0
        assert w.max_pressure == lattice.p0
        limits = model.water_dt_limits()
        # The sound-speed limit h / (c + |v|) of a fluid at rest.
        assert limits.dt_cfl == pytest.approx(1.3 * lattice.dx / 1480.0, rel=1e-13)
        # A release conserves momentum: the pair forces are antisymmetric.
        model.step()
        model.step()
        m = lattice.rho0 * lattice.dx**3
        assert np.abs(model.water_summary().momentum).max() < 1e-12 * m * 1.0e3


def test_failures_carry_status_and_the_library_message(tmp_path, lattice_deck):
    with velunor.Model() as model:
        with pytest.raises(velunor.VelunorError) as error:
            model.read_deck(tmp_path / "missing.inp")
        assert (error.value.status, error.value.message) == (3, "failed to open input file")
        model.read_deck(lattice_deck)
        for call in (model.step, model.stable_dt, model.water_summary, lambda: model.run(),
                     model.solid_state, model.explosive_summary):
            with pytest.raises(velunor.VelunorError) as error:
                call()
            assert (error.value.status, error.value.message) == (2, "Velunor model is not built")
        model.build()
        with pytest.raises(velunor.VelunorError) as error:
            model.step(0.0)
        assert (error.value.status, error.value.message) == (1, "time step must be positive")
        # -1: the C layer refused; the library's last error stays what it was.
        for call in (lambda: model.write_csv(""), lambda: model.set_output_interval(0),
                     lambda: model.export_facets(0), lambda: model.write_vtu("x" * 1025)):
            with pytest.raises(velunor.VelunorError) as error:
                call()
            assert error.value.status == velunor.REJECTED
            assert error.value.message == velunor.REJECTED_MESSAGE
        assert velunor._model._last_error() == (1, "time step must be positive")
        # Refused here before the library sees it.
        for call in (lambda: model.step("fast"), lambda: model.set_output_interval(2**31),
                     lambda: model.write_csv("a\0b"), lambda: model.run(until=math.nan)):
            with pytest.raises(velunor.VelunorError) as error:
                call()
            assert error.value.status == velunor.REJECTED
        assert model.step_count == 0


def test_a_restart_resumes_bit_identically(tmp_path, lattice_deck):
    def state(model):
        p = model.particles()
        return (model.time, model.step_count), {k: v for k, v in p.items() if k != "count"}

    with velunor.Model(lattice_deck) as model:
        model.build()
        model.step()
        model.step()
        before = state(model)
        model.write_restart(tmp_path / "run.rst")
        steps = [model.step(), model.step()]
        after = state(model)
    # The file does not hold the deck's DT, which bounds the stable step, so
    # the resume takes the same steps explicitly.
    with velunor.Model() as model:
        model.read_restart(tmp_path / "run.rst")
        for stage in (before, after):
            now = state(model)
            assert now[0] == stage[0]
            for key, values in stage[1].items():
                np.testing.assert_array_equal(now[1][key], values, err_msg=key)
            if stage is before:
                for dt in steps:
                    model.step(dt)


def test_run_until_stops_at_the_time_and_never_past_the_end(lattice, lattice_deck):
    with velunor.Model(lattice_deck) as model:
        model.build()
        assert model.end_time == lattice.end_time
        dt = model.stable_dt()
        target = 3.5 * dt
        assert model.run(until=target, progress=False) == 4
        assert model.time == pytest.approx(target, rel=1e-15)
        assert model.run(until=target / 2, progress=False) == 0
        model.run(until=1.0, progress=False)
        assert model.time == pytest.approx(lattice.end_time, rel=1e-15)
        steps = model.step_count
        model.run()  # nothing left to do
        assert model.step_count == steps
    with velunor.Model(lattice_deck) as model:
        model.build()
        model.run()
        assert model.time == pytest.approx(lattice.end_time, rel=1e-15)


def test_run_goes_on_past_the_step_limit_of_one_library_call(tmp_path):
    # STEPS limits one velunor_run_explicit call; run() goes on to the end
    # time in the steps the library's run takes, landing on it exactly.
    short = Lattice(steps=2)
    with velunor.Model(short.write(tmp_path / "short.inp")) as model:
        model.build()
        taken = model.run(progress=False)
        assert taken > 2 and model.step_count == taken
        assert model.time == short.end_time
        stepped = model.particles()
    with velunor.Model(Lattice(steps=100000).write(tmp_path / "long.inp")) as model:
        model.build()
        model._call("velunor_run_explicit")
        assert model.step_count == taken and model.time == short.end_time
        called = model.particles()
    for name in ("positions", "velocities", "density", "pressure"):
        assert np.array_equal(stepped[name], called[name]), name


def test_one_model_at_a_time(lattice_deck):
    first = velunor.Model(lattice_deck)
    first.build()
    second = velunor.Model(lattice_deck)
    assert first.closed and not second.closed
    with pytest.raises(velunor.VelunorError) as error:
        first.particles()
    assert error.value.status == 2 and "another Model took over" in error.value.message
    first.close()  # closing the displaced model leaves the library to the new one
    second.build()
    assert second.particle_count > 0
    with second:
        pass
    assert second.closed
    with pytest.raises(velunor.VelunorError):
        second.time
    second.close()
    assert velunor.version() == (0, 8, 3) == velunor.Model.version()


def test_a_failed_deck_read_in_the_constructor_closes_the_model(tmp_path):
    with pytest.raises(velunor.VelunorError) as error:
        velunor.Model(tmp_path / "missing.inp")
    assert error.value.status == 3


def test_phase_summaries_of_a_detonation():
    with velunor.Model(EXAMPLES / "charge_detonation.inp") as model:
        model.build()
        e = model.explosive_summary()
        assert e.particle_count == 576 and e.reacted_count == 0
        # Detonation times are distances from the ignition point (the
        # origin) over D.
        d = np.linalg.norm(model.particles().positions, axis=1)
        assert e.min_detonation_time == pytest.approx(d.min() / 6930.0, rel=1e-12)
        assert e.max_detonation_time == pytest.approx(d.max() / 6930.0, rel=1e-12)
        model.run(until=30e-6, progress=False)
        e = model.explosive_summary()
        b = model.explosive_release_balance()
        assert 0 < e.reacted_count < 576
        assert b.released_mass == pytest.approx(e.released_mass, rel=1e-15)
        assert b.mass_residual == pytest.approx(0.0, abs=1e-9 * b.initial_mass)
        assert b.initial_mass == pytest.approx(576.0, rel=1e-12)
        g = model.gas_extended_summary()
        # Burnt particles turn into gas whole; the burning ones are not gas yet.
        assert 0.0 < g.mass <= e.released_mass
        assert model.gas_summary().volume > 0.0
        assert model.gas_dt_limits().dtcrit == pytest.approx(g.dtcrit, rel=1e-15)
        assert set(model.gas_source_summary()) == {"mass_source", "momentum_source",
                                                   "energy_source"}
        assert model.gas_bubble_metrics().equivalent_radius > 0.0


def test_output_files(tmp_path, lattice_deck):
    tmp_path = tmp_path / "out"
    tmp_path.mkdir()
    with velunor.Model(lattice_deck) as model:
        model.build()
        model.set_output_directory(tmp_path)
        model.set_output_interval(2)
        model.step()
        model.step()
        model.write_output(step=7, time=1.5)
        model.write_vtu(tmp_path / "one.vtu")
    names = sorted(p.name for p in tmp_path.iterdir())
    assert names == ["one.vtu", "velunor.pvd", "velunor_00000002.csv",
                     "velunor_00000002.vtu", "velunor_00000002_summary.csv",
                     "velunor_00000007.csv", "velunor_00000007.vtu",
                     "velunor_00000007_summary.csv"]


def test_the_end_time_is_read_as_the_library_reads_the_deck(tmp_path):
    deck = tmp_path / "times.inp"
    deck.write_bytes(b"\xef\xbb\xbf** TIME CONTROL, TIME=9\r\n"
                     b"*VELUNOR TIME CONTROL, DT=1e-6, TIME=2.5D-3, STEPS=10\r\n"
                     b"*velunor output, interval=3\n"
                     b"  *Velunor time control, dt=1e-6, end time = 4.0E-3 / note, steps=5  \n"
                     b"*VELUNOR TIME CONTROL, DT=1e-6, TIMEX=junk, STEPS=5\n")
    assert velunor._model._deck_end_time(deck) == 4.0e-3
    assert velunor._model._deck_end_time(tmp_path / "missing.inp") is None


class Terminal:
    def __init__(self, tty):
        self.tty, self.text = tty, ""

    def isatty(self):
        return self.tty

    def write(self, text):
        self.text += text

    def flush(self):
        pass


@pytest.mark.parametrize("tty", [True, False])
def test_progress_is_one_refreshed_line_on_a_terminal_only(monkeypatch, lattice_deck, tty):
    terminal = Terminal(tty)
    monkeypatch.setattr("sys.stderr", terminal)
    with velunor.Model(lattice_deck) as model:
        model.build()
        model.run(until=3 * model.stable_dt())
    if tty:
        assert terminal.text.startswith("\rvelunor: step ") and terminal.text.endswith("\n")
        assert terminal.text.count("\n") == 1 and "step 3 " in terminal.text
    else:
        assert terminal.text == ""
