"""The lab script: 5 V and 1 A on Output2 of a K4201A, outputs on, measure, trip the
over-voltage protection, read the instrument's errors.

    python3 lab_script.py [RESOURCE]

Without a resource it runs in simulation."""

import sys

from vmk40xx import MeasurementType, VelmoraK40xx

resource = sys.argv[1] if len(sys.argv) > 1 else "PSU"
options = "" if len(sys.argv) > 1 else "Simulate=true, DriverSetup=Model=K4201A"

with VelmoraK40xx(resource, options=options) as psu:
    out = psu.outputs["Output2"]
    out.apply_voltage_current(5.0, 1.0)
    psu.outputs.enabled = True
    print(f"Output2: {out.measure(MeasurementType.VOLTAGE):.3f} V")
    out.protection.configure_ovp(True, 4.0)  # below the level: the protection trips
    print("OVP tripped:", out.protection.ovp_tripped)
    print("errors:", psu.ivi_utility.error_query_all())
