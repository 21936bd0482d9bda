"""The coupling exchange on examples/coupled_plate: exports, imports acting on
the next step as closed forms say, the load balance and the failures."""

import numpy as np
import pytest

import velunor
from conftest import COUPLED_PLATE_DECK


@pytest.fixture
def plate_model():
    with velunor.Model(COUPLED_PLATE_DECK) as model:
        model.build()
        yield model


def test_regions_as_the_deck_declares_them(plate_model):
    plate, wet = plate_model.regions
    assert (plate.index, plate.name, plate.export_mode, plate.import_mode) == (1, "PLATE", 3, 2)
    assert (plate.particle_count, plate.facet_count, plate.distribution_mode) == (256, 256, 2)
    assert (wet.index, wet.name, wet.export_mode, wet.import_mode) == (2, "WET", 1, 3)
    assert (wet.particle_count, wet.facet_count, wet.enabled) == (256, 0, True)
    assert plate_model.region("wet ") == wet


def test_exports_match_the_particle_state(plate_model):
    p = plate_model.particles()
    facets = plate_model.export_facets("PLATE")
    wet = plate_model.export_particles("WET")
    assert facets.count == wet.count == 256
    rows = facets.facet_id - 1  # a facet id is the shell particle's 1-based index
    np.testing.assert_array_equal(facets.positions, p.positions[rows])
    np.testing.assert_array_equal(facets.particle_id, p.particle_id[rows])
    np.testing.assert_array_equal(facets.normals, np.tile([0.0, 0.0, 1.0], (256, 1)))
    # A quarter of a 0.1 m element at the corners, half on the edges.
    assert sorted(set(facets.area.round(12))) == [0.0025, 0.005, 0.01]
    assert facets.area.sum() == pytest.approx(1.5**2, rel=1e-12)
    rows = wet.index - 1
    np.testing.assert_array_equal(wet.positions, p.positions[rows])
    np.testing.assert_array_equal(wet.pressure, p.pressure[rows])
    np.testing.assert_array_equal(wet.phase, np.full(256, velunor.PHASE_WATER))
    assert (wet.mass == 1.0).all()


def test_resultants_act_on_the_next_step_only(plate_model):
    plate = plate_model.region("PLATE")
    facets = plate_model.export_facets(plate)
    mass = plate_model.export_particles(plate).mass
    rng = np.random.default_rng(7)
    ids = facets.facet_id[::5]
    forces = rng.uniform(-50.0, 50.0, (ids.size, 3))
    plate_model.apply_facet_resultants(plate, ids, forces, coupling_step=1)
    balance = plate_model.load_balance()
    np.testing.assert_allclose(balance.input_force, forces.sum(axis=0), rtol=1e-12)
    np.testing.assert_array_equal(balance.distributed_force, balance.input_force)
    assert balance.force_error == 0.0
    dt = 1.0e-5
    plate_model.step(dt)
    after = plate_model.export_facets(plate)
    # Shell particles feel nothing else: from rest, v = dt F/m, x moves by
    # dt^2/2 F/m.
    rows = (ids - 1)
    a = forces / mass[rows, None]
    np.testing.assert_allclose(after.velocities[::5], dt * a, rtol=1e-12)
    np.testing.assert_allclose(after.positions[::5] - facets.positions[::5], 0.5 * dt**2 * a,
                               rtol=0.0, atol=4e-16)  # differences of x near 1 m
    untouched = np.ones(256, bool)
    untouched[::5] = False
    assert (after.velocities[untouched] == 0.0).all()
    diag = plate_model.diagnostics()
    np.testing.assert_allclose(diag.step_force, forces.sum(axis=0), rtol=1e-12)
    np.testing.assert_allclose(diag.step_impulse, dt * forces.sum(axis=0), rtol=1e-12)
    assert diag.counts.consumed == 1
    # Consumed: the next step moves on at constant velocity.
    plate_model.step(dt)
    np.testing.assert_allclose(plate_model.export_facets(plate).velocities[::5], dt * a,
                               rtol=1e-12)


def test_motion_targets_and_cleared_imports(plate_model):
    target = np.array([0.25, -0.5, 1.0])
    plate_model.apply_motion_boundary("WET", 3, target)
    plate_model.apply_facet_loads("PLATE", [1, 2], [[0.0, 0.0, 5.0], [0.0, 0.0, 5.0]])
    plate_model.clear_imports()
    assert plate_model.diagnostics().counts.stale_loads >= 1
    plate_model.step()
    assert (plate_model.export_facets("PLATE").velocities == 0.0).all()
    plate_model.apply_motion_boundary("WET", 3, target, kind="velocity")
    plate_model.step()
    np.testing.assert_array_equal(plate_model.export_particles("WET").velocities[2], target)


def test_bad_imports_are_refused_and_change_nothing(plate_model):
    def refused(call, status=velunor.REJECTED, message=None, unchanged=True):
        with pytest.raises(velunor.VelunorError) as error:
            call()
        assert error.value.status == status
        if message is not None:
            assert message in error.value.message
        if unchanged:
            assert plate_model.load_balance().input_force.tolist() == [0.0, 0.0, 0.0]

    ids = [20, 21]
    good = np.ones((2, 3))
    refused(lambda: plate_model.apply_facet_resultants("PLATE", ids, np.ones(6), coupling_step=1),
            message="shape (2, 3)")
    refused(lambda: plate_model.apply_facet_resultants(
        "PLATE", ids, [[1.0, np.nan, 0.0], [0.0, 0.0, 1.0]], coupling_step=1),
        message="NaN or infinite")
    refused(lambda: plate_model.apply_facet_resultants("PLATE", [20.0, 21.0], good,
                                                       coupling_step=1), message="integers")
    refused(lambda: plate_model.apply_facet_pressures("PLATE", ids, [1.0, 2.0], coupling_step=-1))
    refused(lambda: plate_model.apply_facet_resultants(0, ids, good, coupling_step=1),
            message=velunor.REJECTED_MESSAGE)
    refused(lambda: plate_model.apply_motion_boundary("WET", 0, (0.0, 0.0, 0.0)))
    refused(lambda: plate_model.apply_motion_boundary("WET", 1, (0.0, 0.0)), message="shape (3,)")
    refused(lambda: plate_model.export_facets("NOPE"), message="no coupling region named")
    # The library's own checks: status 1 with its message.
    refused(lambda: plate_model.apply_facet_resultants("PLATE", [300, 21], good, coupling_step=1),
            status=1, message="coupling facet id is invalid")
    refused(lambda: plate_model.apply_facet_resultants(3, ids, good, coupling_step=1), status=1,
            message="coupling region index is invalid")
    assert plate_model.contact_diagnostics().active_contacts == 0
    assert plate_model.export_facets("WET").count == 0  # a particles-only region
    # The library stops at the first bad entry and keeps what came before it.
    refused(lambda: plate_model.apply_facet_resultants("PLATE", [20, 20], good, coupling_step=1),
            status=1, message="coupling facet id is duplicated", unchanged=False)
    assert plate_model.load_balance().input_force.tolist() == [1.0, 1.0, 1.0]


def test_empty_imports_pass_through(plate_model):
    plate_model.apply_particle_forces("WET", [], np.zeros((0, 3)))
    plate_model.apply_facet_tractions("PLATE", [], np.zeros((0, 3)), coupling_step=2)
    assert plate_model.diagnostics().counts.imported_forces == 0
