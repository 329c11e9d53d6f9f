"""vmk40xx, the command-line tool, one command at a time."""

import json

SIMULATED = "Simulate=true, DriverSetup=Model=K4201A"


def test_apply_switch_on_and_measure_5_volts(run, emulator):
    assert run("-r", emulator, "apply", "Output2", "5", "1").returncode == 0
    assert run("on", "-r", emulator).returncode == 0
    r = run("-r", emulator, "measure", "Output2", "--json")
    assert r.returncode == 0, r.stderr
    assert json.loads(r.stdout) == {"output": "Output2", "voltage": 5, "current": 0.1,
                                    "state": "CV"}
    r = run("-r", emulator, "measure")
    assert r.stdout == "Output1\t0 V\t0 A\tCV\nOutput2\t5 V\t0.1 A\tCV\n"
    assert run("-r", emulator, "off").returncode == 0
    assert json.loads(run("-r", emulator, "measure", "--json").stdout)[1]["state"] == "OFF"


def test_get_list_names_the_59_attributes(run):
    r = run("get", "--list")
    assert r.returncode == 0
    lines = r.stdout.splitlines()
    assert len(lines) == 59
    assert lines[0].split() == ["DriverOperation.RangeCheck", "ViBoolean", "read-write"]
    assert "Output<n>.VoltageLevel                   ViReal64   read-write" in lines
    assert "Output<n>.Protection.OVPTripped          ViBoolean  read-only" in lines
    assert "Calibrations.Password                    ViString   write-only" in lines
    assert "Display.Text                             ViString   read-write" in lines
    listed = json.loads(run("get", "--list", "--json").stdout)
    assert len(listed) == 59
    assert {"name": "Trigger<n>.Delay", "id": 1150029, "type": "ViReal64",
            "access": "read-write"} in listed


def test_set_and_get_through_the_instrument(run, emulator):
    assert run("-r", emulator, "set", "Output2.VoltageLevel", "3.25").returncode == 0
    assert run("-r", emulator, "get", "Output2.VoltageLevel").stdout == "3.25\n"
    # Names are matched without regard to case; the instance is the driver's channel name.
    r = run("-r", emulator, "get", "output2.voltagelevel", "--json")
    assert json.loads(r.stdout) == {"name": "output2.voltagelevel", "value": 3.25}
    assert run("-r", emulator, "set", "Display.Text", "Bench 4").returncode == 0
    assert run("-r", emulator, "get", "Display.Text").stdout == "Bench 4\n"
    assert run("-r", emulator, "set", "Output1.Protection.OVPEnabled", "on").returncode == 0
    assert run("-r", emulator, "get", "Output1.Protection.OVPEnabled").stdout == "true\n"


def test_read_only_attribute_exits_1_with_the_drivers_text(run):
    r = run("-r", "PSU", "-o", SIMULATED, "set", "Identity.InstrumentModel", "K9999")
    assert (r.returncode, r.stdout, r.stderr) == (1, "", "vmk40xx: Attribute is read only.\n")
    r = run("-r", "PSU", "-o", SIMULATED, "get", "Calibrations.Password")
    assert (r.returncode, r.stderr) == (1, "vmk40xx: Attribute is write only.\n")


def test_driver_errors_exit_1(run, emulator):
    r = run("-r", "TCPIP0::127.0.0.1::1::SOCKET", "identify")
    assert r.returncode == 1
    assert r.stderr.startswith("vmk40xx: VelmoraK40xx: Unknown resource.")
    assert "refused" in r.stderr
    r = run("-r", emulator, "get", "Output3.VoltageLevel")  # a K4201A has two outputs
    assert r.returncode == 1 and "repeated capability" in r.stderr


def test_usage_errors_exit_2(run):
    for args in (["frobnicate"], [], ["apply", "Output2", "5"], ["apply", "Output2", "x", "1"],
                 ["get"], ["get", "Output2.NoSuchThing"], ["-o", SIMULATED, "-r", "PSU", "set",
                 "Output2.Enabled", "maybe"], ["identify"], ["config"], ["trace"]):
        r = run(*args)
        assert r.returncode == 2, (args, r.stdout, r.stderr)
        assert r.stderr, args
    assert "no instrument: give -r/--resource" in run("identify").stderr
    # A simulated session needs none.
    r = run("-o", SIMULATED, "get", "Output2.VoltageLevel")
    assert r.returncode == 0 and r.stdout.strip() == "0", (r.stdout, r.stderr)


def test_help_everywhere(run):
    for cmd in ("", "list", "identify", "get", "set", "apply", "on", "off", "measure", "monitor",
                "errors", "scpi", "shell", "config", "trace"):
        r = run(*([cmd] if cmd else []), "--help")
        assert r.returncode == 0, cmd
        assert "-r,--resource" in r.stdout and "-o,--options" in r.stdout, cmd
    assert "Exit codes: 0 success, 1 driver error" in run("--help").stdout


def test_environment_gives_the_defaults_and_options_override_it(run, emulator):
    env = {"VMK40XX_RESOURCE": emulator}
    r = run("identify", "--json", extra_env=env)
    assert json.loads(r.stdout)["model"] == "K4201A"
    assert json.loads(r.stdout)["outputs"] == ["Output1", "Output2"]
    env["VMK40XX_OPTIONS"] = "Simulate=true, DriverSetup=Model=K4301A"
    assert json.loads(run("identify", "--json", extra_env=env).stdout)["model"] == "K4301A"
    r = run("identify", "--json", "-o", "", "-r", emulator, extra_env=env)
    assert json.loads(r.stdout)["firmware"] == "1.2-5.0-1.0"


def test_scpi_and_the_error_queue(run, emulator):
    r = run("-r", emulator, "scpi", "*IDN?")
    assert r.stdout == "Velmora,K4201A,0,1.2-5.0-1.0\n"
    assert run("-r", emulator, "scpi", "NOT:A:COMMAND").stdout == ""
    run("-r", emulator, "scpi", "NOR:THIS")
    r = run("-r", emulator, "errors", "--json")
    assert json.loads(r.stdout) == [{"code": -113, "message": "Undefined header"},
                                    {"code": -113, "message": "Undefined header"}]
    assert run("-r", emulator, "errors").stdout == "no errors\n"
    assert json.loads(run("-r", emulator, "scpi", "VOLT?", "--json").stdout)["command"] == "VOLT?"


def test_monitor_writes_csv_to_a_pipe(run, emulator):
    run("-r", emulator, "apply", "Output2", "5", "1")
    run("-r", emulator, "on")
    r = run("-r", emulator, "monitor", "Output2", "--interval", "0.1", "--count", "3")
    lines = r.stdout.splitlines()
    assert lines[0] == "time,output,voltage,current,state"
    assert len(lines) == 4
    for line in lines[1:]:
        stamp, output, volts, amps, state = line.split(",")
        assert (output, volts, amps, state) == ("Output2", "5", "0.1", "CV")
        assert len(stamp) == 19 and stamp[10] == "T"
    r = run("-r", emulator, "monitor", "--json", "-n", "1")
    rows = [json.loads(line) for line in r.stdout.splitlines()]
    assert [row["output"] for row in rows] == ["Output1", "Output2"]


def test_list_finds_a_named_serial_device(run, tmp_path):
    r = run("list", "ASRL?*", "--json", extra_env={"VMK40XX_ASRL_DEVICES": "/dev/null"})
    assert r.returncode == 0, r.stderr
    assert isinstance(json.loads(r.stdout), list)
    assert run("list", "[unclosed").returncode == 2


def test_config_adds_lists_and_removes_logical_names(run, emulator, env):
    assert run("config", "list", "--json").stdout == "[]\n"  # no store yet
    assert run("config", "add", "Bench", emulator, "--description", "bench 4").returncode == 0
    assert run("config", "add", "Sim", "PSU", "--settings",
               "Simulate=true, DriverSetup=Model=K4301A").returncode == 0
    assert json.loads(run("config", "list", "--json").stdout) == [
        {"name": "Bench", "resource": emulator, "options": "", "description": "bench 4"},
        {"name": "Sim", "resource": "PSU", "options": "Simulate=true, DriverSetup=Model=K4301A",
         "description": ""}]
    # Initialize takes the logical names from the same store.
    assert json.loads(run("-r", "Bench", "identify", "--json").stdout)["model"] == "K4201A"
    assert json.loads(run("-r", "Sim", "identify", "--json").stdout)["model"] == "K4301A"
    # Adding a name again replaces it.
    assert run("config", "add", "Bench", emulator, "--settings", "QueryInstrStatus=true").returncode == 0
    assert run("config", "list").stdout == f"Bench\t{emulator}\tQueryInstrStatus=true\nSim\tPSU\t" \
                                           "Simulate=true, DriverSetup=Model=K4301A\n"
    assert run("config", "remove", "Sim").returncode == 0
    r = run("config", "remove", "Sim")
    assert (r.returncode, r.stderr) == (1, "vmk40xx: the store has no logical name Sim\n")
    r = run("config", "add", "Bad", "PSU", "--settings", "Simulate=perhaps")
    assert r.returncode == 1 and "not a boolean: perhaps" in r.stderr
    store = open(env["IVICONFIGSERVERDEFAULT"]).read()
    assert "<IviLogicalName" in store and "Sim" not in store.replace("Simulate", "")


def test_a_damaged_store_is_left_alone(run, env):
    with open(env["IVICONFIGSERVERDEFAULT"], "w") as f:
        f.write("<IviConfigStore><not closed")
    r = run("config", "add", "Bench", "PSU")
    assert r.returncode == 1 and "IviConfigurationStore.xml" in r.stderr
    assert open(env["IVICONFIGSERVERDEFAULT"]).read() == "<IviConfigStore><not closed"


def test_trace_report(run, tmp_path):
    trace = tmp_path / "bench"
    options = f"Simulate=true, DriverSetup=Model=K4201A, Trace=true, TraceName={trace}"
    assert run("-r", "PSU", "-o", options, "apply", "Output2", "5", "1").returncode == 0
    r = run("trace", "report", f"{trace}.xml")
    assert r.returncode == 0, r.stderr
    assert r.stdout == f"{trace}.html\n"
    html = (tmp_path / "bench.html").read_text()
    assert "<html" in html and "ApplyVoltageCurrent" in html
    r = run("trace", "report", str(tmp_path / "missing.xml"))
    assert r.returncode == 1 and "cannot read" in r.stderr


def test_json_text_survives_quotes_and_control_characters(run, emulator):
    text = 'a"b\\c\td'  # short: the display takes 12 characters
    assert run("-r", emulator, "set", "Display.Text", text).returncode == 0
    r = run("-r", emulator, "get", "Display.Text", "--json")
    assert json.loads(r.stdout)["value"] == text


def test_commands_are_refused_where_they_cannot_be(run, emulator):
    r = run("-r", "PSU", "-o", SIMULATED, "scpi", "*IDN?")
    assert (r.returncode, r.stderr) == (
        1, "vmk40xx: VelmoraK40xx: IO error: Direct I/O not available while Simulating.\n")
    r = run("-r", emulator, "scpi", "*RST", "--json")
    assert json.loads(r.stdout) == {"command": "*RST", "reply": None}
