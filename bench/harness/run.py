#!/usr/bin/env python3
"""Measures the watchdog agent end to end against a minimal supervisor, compares the main
application's filtering proxy with tinyproxy, privoxy and squid (proxy_peers.py), runs the
Google Benchmark figures, and prints one table (Markdown) on standard output; progress goes to
standard error. Run through scripts/bench, which builds first; bench/README.md explains every
figure.

Everything runs in a private temporary directory: own HOME and XDG_* directories, a copy of the
built bundle whose main application is bench_tinyapp (it reports its start time on a FIFO), and
minisup restarting another copy of that program from outside any bundle (so the agent never
counts it as its application). Nothing outside that directory is touched; every process started
is ended at the end, also on failure.
"""

import argparse
import ctypes
import datetime
import json
import os
import platform
import pwd
import re
import select
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import proxy_peers  # pylint: disable=wrong-import-position

CHECK_TIME = "2026-12-09T03:00:00+01:00"  # nothing scheduled: see bench/configs/generate.py
TIME_ZONE = "Europe/Berlin"
AGENT_LAUNCH_SPACING = 2.3  # the agent skips a launch within 2 s of its previous one
QUIET_AFTER_SAMPLE = 0.3  # between one restart and the next kill
REST_LEAD_IN = 8.0  # after the agent starts: its launch and the looks that follow are over
CHECK_INTERVAL = 75.0  # the agent's periodic check
STRACE_WINDOW = 5.0  # covers what a relaunch sets off, delayed looks at the process table too
REPLACED_SETTLE = 3.0  # after the agent read a new configuration, before its memory is measured
SITES_ADD_CONFIG = "medium.json"  # a 1.2 MB record
APP_REST_LEAD_IN = 5.0  # after the main application listens: its first looks are over


def log(message):
    print("bench: " + message, file=sys.stderr, flush=True)


def now():
    return time.clock_gettime(time.CLOCK_MONOTONIC)


def sleep_until(deadline):
    delay = deadline - now()
    if delay > 0:
        time.sleep(delay)


class Failure(Exception):
    pass


# ---------------------------------------------------------------------------------------------
# Processes and their figures


class Reports:
    """The FIFO a bench_tinyapp writes "PID SECONDS" to when it starts."""

    def __init__(self, path):
        self.path = path
        os.mkfifo(path)
        # Open for both reading and writing: never blocks, never reads end-of-file.
        self.fd = os.open(path, os.O_RDWR | os.O_NONBLOCK | os.O_CLOEXEC)
        self.pending = b""

    def _lines(self):
        lines = []
        while b"\n" in self.pending:
            line, self.pending = self.pending.split(b"\n", 1)
            pid, started = line.split()
            lines.append((int(pid), float(started)))
        return lines

    def _read(self):
        try:
            self.pending += os.read(self.fd, 4096)
        except BlockingIOError:
            pass

    def drain(self):
        """Every report that has arrived."""
        self._read()
        return self._lines()

    def next(self, timeout):
        """The next report, or None when none comes within `timeout` seconds."""
        deadline = now() + timeout
        while True:
            lines = self._lines()
            if lines:
                # One at a time: put the others back in front.
                rest = b"".join(b"%d %.9f\n" % item for item in lines[1:])
                self.pending = rest + self.pending
                return lines[0]
            left = deadline - now()
            if left <= 0:
                return None
            ready, _, _ = select.select([self.fd], [], [], left)
            if ready:
                self._read()


def read_text(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def process_figures(pid):
    """Context switches over all threads, CPU seconds (utime+stime) and VmRSS in kB."""
    switches = 0
    try:
        tids = os.listdir("/proc/%d/task" % pid)
    except FileNotFoundError:
        return None
    for tid in tids:
        try:
            status = read_text("/proc/%d/task/%s/status" % (pid, tid))
        except FileNotFoundError:
            continue  # ended meanwhile
        for line in status.splitlines():
            if line.startswith(("voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:")):
                switches += int(line.split()[1])
    stat = read_text("/proc/%d/stat" % pid)
    fields = stat[stat.rindex(")") + 2:].split()
    ticks = os.sysconf("SC_CLK_TCK")
    cpu = (int(fields[11]) + int(fields[12])) / ticks
    rss = 0
    for line in read_text("/proc/%d/status" % pid).splitlines():
        if line.startswith("VmRSS:"):
            rss = int(line.split()[1])
    return {"switches": switches, "cpu": cpu, "rss_kb": rss, "threads": len(tids)}


class Supervisor:
    """The agent or minisup, with the main application it keeps running."""

    def __init__(self, name, argv, env, reports, spacing, err_path, user=None):
        self.name = name
        self.reports = reports
        self.spacing = spacing
        self.err_path = err_path
        self.err = open(err_path, "wb")
        self.started_at = now()
        as_user = {} if user is None else {"user": user.pw_uid, "group": user.pw_gid,
                                           "extra_groups": []}
        self.process = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=self.err,
                                        cwd=os.path.dirname(err_path), **as_user)
        self.app_pid = None
        self.app_started = None
        self.extra_launches = 0
        self.apps_seen = []

    def wait_for_first_launch(self, timeout):
        report = self.reports.next(timeout)
        if report is None:
            raise Failure("%s launched nothing within %.0f s; its standard error ends with:\n%s"
                          % (self.name, timeout, self.tail()))
        self.app_pid, self.app_started = report
        self.apps_seen.append(self.app_pid)

    def tail(self):
        self.err.flush()
        return "\n".join(read_text(self.err_path).splitlines()[-15:])

    def take_strays(self):
        """Counts launches nobody asked for (the application was running); how many now."""
        stray = self.reports.drain()
        self.extra_launches += len(stray)
        self.apps_seen.extend(pid for pid, _ in stray)
        return len(stray)

    def relaunch(self, timeout=30.0):
        """Kills the application; seconds until its successor ran, or None."""
        sleep_until(self.app_started + self.spacing)
        self.take_strays()
        victim = self.app_pid
        killed_at = now()
        os.kill(victim, signal.SIGKILL)
        report = self.reports.next(timeout)
        if report is None:
            return None
        self.app_pid, self.app_started = report
        self.apps_seen.append(self.app_pid)
        return self.app_started - killed_at

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        for pid in set(self.apps_seen) | {pid for pid, _ in self.reports.drain()}:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.err.close()


def reap_orphans():
    # The harness is the children's subreaper: applications whose supervisor ended come here.
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


def become_subreaper():
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER
    except (OSError, AttributeError):
        pass


# ---------------------------------------------------------------------------------------------
# The private set-up


class Setup:
    def __init__(self, build, keep, rest_user):
        self.build = os.path.abspath(build)
        self.root = tempfile.mkdtemp(prefix="zelto-bench-")
        self.keep = keep
        self.rest_user = rest_user
        bench = os.path.join(self.build, "bench")
        self.tinyapp = os.path.join(bench, "bench_tinyapp")
        self.minisup = os.path.join(bench, "minisup")
        self.configs = os.path.join(bench, "configs")
        for path in (self.tinyapp, self.minisup, os.path.join(self.build, "Zelto.app")):
            if not os.path.exists(path):
                raise Failure("%s is missing: build first (scripts/build)" % path)

        self.bundle = os.path.join(self.root, "Zelto.app")
        shutil.copytree(os.path.join(self.build, "Zelto.app"), self.bundle, symlinks=True)
        # The real main application, in a bundle of its own, for its figures at rest.
        real = os.path.join(self.root, "real", "Zelto.app")
        shutil.copytree(os.path.join(self.build, "Zelto.app"), real, symlinks=True)
        self.real_app = os.path.join(real, "Contents/MacOS/Zelto")
        main_app = os.path.join(self.bundle, "Contents/MacOS/Zelto")
        os.remove(main_app)
        shutil.copy2(self.tinyapp, main_app)
        self.agent = os.path.join(self.bundle, "Contents/MacOS/Agent.app/Contents/MacOS/Agent")
        self.zeltoctl = os.path.join(self.bundle, "Contents/MacOS/zeltoctl")
        # minisup's program: the same bytes, outside any bundle.
        self.mini_app = os.path.join(self.root, "plain", "tinyapp")
        os.makedirs(os.path.dirname(self.mini_app))
        shutil.copy2(self.tinyapp, self.mini_app)

        self.env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "ZELTO_"))}
        for name, sub in (("HOME", "home"), ("XDG_DATA_HOME", "data"),
                          ("XDG_CONFIG_HOME", "config"), ("XDG_STATE_HOME", "state"),
                          ("XDG_CACHE_HOME", "cache")):
            self.env[name] = os.path.join(self.root, sub)
            os.makedirs(self.env[name])
        self.env["TZ"] = TIME_ZONE
        self.env["LANG"] = "C.UTF-8"
        self.config_path = os.path.join(self.env["XDG_DATA_HOME"], "Zelto", "default.cfg")
        os.makedirs(os.path.dirname(self.config_path))
        self.agent_reports = Reports(os.path.join(self.root, "agent.fifo"))
        self.mini_reports = Reports(os.path.join(self.root, "minisup.fifo"))
        if rest_user is not None:
            # The at-rest pair runs as that user first: everything it reads or writes is its own
            # (the harness, as root, still writes everywhere afterwards).
            os.chmod(self.root, 0o755)
            for reports in (self.agent_reports, self.mini_reports):
                os.chmod(reports.path, 0o666)
            for name in ("HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME",
                         "XDG_CACHE_HOME"):
                for parent, dirs, files in os.walk(self.env[name]):
                    for entry in [parent] + [os.path.join(parent, f) for f in dirs + files]:
                        os.chown(entry, rest_user.pw_uid, rest_user.pw_gid)

    def config_text(self, name):
        path = os.path.join(self.configs, name)
        if not os.path.exists(path):
            path = os.path.join(os.path.dirname(__file__), "..", "configs", name)
        if not os.path.exists(path):
            # Not generated by this build (an older one): made here, the same bytes.
            generated = os.path.join(self.root, "configs")
            subprocess.run([sys.executable, os.path.join(os.path.dirname(__file__), "..",
                                                         "configs", "generate.py"),
                            "--out", generated, name], check=False, stdin=subprocess.DEVNULL)
            path = os.path.join(generated, name)
        if not os.path.exists(path):
            raise Failure("no %s: the build generates it (python3 needed)" % name)
        return read_text(path)

    def write_config(self, text):
        temp = self.config_path + ".tmp"
        with open(temp, "w", encoding="utf-8") as f:
            f.write(text)
        os.replace(temp, self.config_path)

    def write_blocking_config(self, name):
        """The configuration with a block started by hand a minute ago and not ended."""
        record = json.loads(self.config_text(name))
        started = datetime.datetime.now(datetime.timezone.utc) - datetime.timedelta(minutes=1)
        record["lastZeltoDate"] = started.strftime("%Y-%m-%dT%H:%M:%S.000Z")
        record.pop("lastUnzeltoDate", None)
        self.write_config(json.dumps(record, ensure_ascii=False, separators=(",", ":")))

    def zeltoctl_run(self, args, timeout=120):
        started = now()
        done = subprocess.run([self.zeltoctl] + args, env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=timeout)
        return now() - started, done

    def start_agent(self, user=None):
        env = dict(self.env, ZELTO_BENCH_REPORT=self.agent_reports.path)
        return Supervisor("agent", [self.agent], env, self.agent_reports, AGENT_LAUNCH_SPACING,
                          os.path.join(self.root, "agent.err"), user)

    def start_minisup(self, user=None):
        env = dict(self.env, ZELTO_BENCH_REPORT=self.mini_reports.path)
        return Supervisor("minisup", [self.minisup, self.mini_app], env, self.mini_reports,
                          QUIET_AFTER_SAMPLE, os.path.join(self.root, "minisup.err"), user)

    def remove(self):
        if self.keep:
            log("kept %s" % self.root)
        else:
            shutil.rmtree(self.root, ignore_errors=True)


# ---------------------------------------------------------------------------------------------
# Phases


def relaunch_samples(agent, mini, count):
    """Alternating kills, the first of each pair swapping every round."""
    times = {"agent": [], "minisup": []}
    for i in range(count):
        for sup in ((agent, mini) if i % 2 == 0 else (mini, agent)):
            latency = sup.relaunch()
            if latency is None:
                raise Failure("%s did not relaunch within 30 s; its standard error ends with:\n%s"
                              % (sup.name, sup.tail()))
            times[sup.name].append(latency)
            time.sleep(QUIET_AFTER_SAMPLE)
    return times


def strace_relaunch(sup):
    """System calls of the supervisor (all its threads, not its children) around one relaunch."""
    if shutil.which("strace") is None:
        return None
    pid = sup.process.pid
    out = os.path.join(os.path.dirname(sup.err_path), sup.name + ".strace")
    argv = ["strace", "-c", "-o", out]
    for tid in sorted(os.listdir("/proc/%d/task" % pid)):
        argv += ["-p", tid]
    tracer = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    time.sleep(1.0)  # attached
    latency = sup.relaunch()
    time.sleep(STRACE_WINDOW)
    tracer.send_signal(signal.SIGINT)
    try:
        tracer.wait(10)
    except subprocess.TimeoutExpired:
        tracer.kill()
        return None
    if latency is None or not os.path.exists(out):
        return None
    for line in read_text(out).splitlines():
        words = line.split()
        if words and words[-1] == "total" and len(words) >= 4:
            return int(words[3])
    return None


def bundle_processes(own_root, uid):
    """The processes of `uid` running an executable at B/Contents/MacOS/NAME with a
    B/Contents/Info.plist, B outside `own_root`: the agent watches every one of them for its
    end."""
    found = set()
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            if os.stat("/proc/" + name).st_uid != uid:
                continue
            exe = os.readlink("/proc/%s/exe" % name)
        except OSError:
            continue
        macos = os.path.dirname(exe)
        bundle = os.path.dirname(os.path.dirname(macos))
        if (os.path.basename(macos) == "MacOS" and not exe.startswith(own_root + "/")
                and os.path.isfile(os.path.join(bundle, "Contents", "Info.plist"))):
            found.add(int(name))
    return found


def at_rest(agent, mini, seconds, own_root, uid):
    """Both supervisors' figures over a window of `seconds` that no periodic check falls in,
    and how many processes of other bundles were seen ending in it (each one wakes the agent,
    which watches them all; on a shared machine, other copies of the bundle run by tests)."""
    # The agent's timer fires CHECK_INTERVAL after its set-up, which follows its start closely.
    start = agent.started_at + REST_LEAD_IN
    if REST_LEAD_IN + seconds > CHECK_INTERVAL - 2:
        log("a rest window of %.0f s takes in the agent's periodic check" % seconds)
    sleep_until(start)
    before = {sup.name: process_figures(sup.process.pid) for sup in (agent, mini)}
    others = bundle_processes(own_root, uid)
    ended = 0
    while now() < start + seconds:  # looked at every 0.1 s: a shorter life may go unseen
        time.sleep(min(0.1, max(0.0, start + seconds - now())))
        current = bundle_processes(own_root, uid)
        ended += len(others - current)
        others = current
    after = {sup.name: process_figures(sup.process.pid) for sup in (agent, mini)}
    figures = {}
    for sup in (agent, mini):
        b, a = before[sup.name], after[sup.name]
        if b is None or a is None:
            raise Failure("%s ended while at rest" % sup.name)
        figures[sup.name] = {"wakeups": a["switches"] - b["switches"],
                             "cpu": a["cpu"] - b["cpu"], "rss_kb": a["rss_kb"],
                             "threads": a["threads"], "launches": sup.take_strays()}
    figures["other_bundle_ends"] = ended
    return figures


def rest_phase(setup, config, seconds):
    """The figures at rest, of an agent and a minisup started for that (as the rest user)."""
    setup.write_blocking_config(config)
    user = setup.rest_user
    agent, mini = setup.start_agent(user), setup.start_minisup(user)
    try:
        agent.wait_for_first_launch(120)
        mini.wait_for_first_launch(10)
        log("%s: at rest for %.0f s" % (config, seconds))
        return at_rest(agent, mini, seconds, setup.root,
                       os.getuid() if user is None else user.pw_uid)
    finally:
        agent.stop()
        mini.stop()
        reap_orphans()


def config_reads(setup, agent):
    """How many times the agent has read the configuration file (its log line of each read)."""
    agent.err.flush()
    line = "Looking up configuration file at " + setup.config_path
    return sum(1 for text in read_text(agent.err_path).splitlines() if text.endswith(line))


def replaced_rss(setup, agent, reads):
    """The agent's VmRSS in kB at rest once it has read typical.json in place of what it held:
    `reads` reads so far; None when it never read the new file. The agent looks at the file when
    its application has ended, so one relaunch follows the replacement."""
    setup.write_blocking_config("typical.json")
    if agent.relaunch() is None:
        return None
    deadline = now() + 30
    while config_reads(setup, agent) <= reads:
        if now() > deadline:
            return None
        time.sleep(0.1)
    time.sleep(REPLACED_SETTLE)
    return process_figures(agent.process.pid)["rss_kb"]


def free_port():
    """A port nothing listens on now (the kernel's pick of a free one)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    with socket.socket() as s:
        s.settimeout(1.0)
        return s.connect_ex(("127.0.0.1", port)) == 0


def app_rest_phase(setup, config, seconds):
    """The wake-ups of the real main application at rest during a block whose profiles block no
    program: from a copy of the built bundle, under the private home, with ports of its own, as
    the rest user. Nor any site: the addresses of blocked sites are looked up, paced, for a while
    after the start, which is work, not rest."""
    record = json.loads(setup.config_text(config))
    for profile in record.get("profiles", []):
        if isinstance(profile, dict):
            profile["blockedApplications"] = []
            profile["blockedWebsites"] = []
    started = datetime.datetime.now(datetime.timezone.utc) - datetime.timedelta(minutes=1)
    record["lastZeltoDate"] = started.strftime("%Y-%m-%dT%H:%M:%S.000Z")
    record.pop("lastUnzeltoDate", None)
    proxy_port, page_port = free_port(), free_port()
    record["httpPort"] = page_port
    setup.write_config(json.dumps(record, ensure_ascii=False, separators=(",", ":")))
    prefs = os.path.join(setup.env["XDG_CONFIG_HOME"], "Zelto", "Preferences")
    os.makedirs(prefs, exist_ok=True)
    with open(os.path.join(prefs, "Quarnix.zelto.plist"), "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>'
                "<key>ProxyPort</key><integer>%d</integer></dict></plist>\n" % proxy_port)
    run = os.path.join(setup.root, "app-run")
    os.makedirs(run, mode=0o700, exist_ok=True)
    user = setup.rest_user
    if user is not None:
        for path in (setup.config_path, prefs, os.path.join(prefs, "Quarnix.zelto.plist"), run):
            os.chown(path, user.pw_uid, user.pw_gid)
    env = {k: v for k, v in setup.env.items() if k != "DBUS_SESSION_BUS_ADDRESS"}
    env["XDG_RUNTIME_DIR"] = run
    err_path = os.path.join(setup.root, "app.err")
    as_user = {} if user is None else {"user": user.pw_uid, "group": user.pw_gid,
                                       "extra_groups": []}
    with open(err_path, "wb") as err:
        app = subprocess.Popen([setup.real_app], env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=err, cwd=setup.root, **as_user)
    try:
        deadline = now() + 60
        while not listening(proxy_port):
            if app.poll() is not None or now() > deadline:
                raise Failure("the main application did not listen on port %d; its standard "
                              "error ends with:\n%s" % (proxy_port, "\n".join(
                                  read_text(err_path).splitlines()[-15:])))
            time.sleep(0.1)
        log("%s, a block without blocked programs: the main application at rest for %.0f s"
            % (config, seconds))
        time.sleep(APP_REST_LEAD_IN)
        before = process_figures(app.pid)
        time.sleep(seconds)
        after = process_figures(app.pid)
        if before is None or after is None or app.poll() is not None:
            raise Failure("the main application ended while at rest")
        return {"wakeups": after["switches"] - before["switches"],
                "cpu": after["cpu"] - before["cpu"], "threads": after["threads"]}
    finally:
        app.terminate()
        try:
            app.wait(10)
        except subprocess.TimeoutExpired:
            app.kill()
            app.wait()


def relaunch_phase(setup, config, samples, trace, replace=False):
    setup.write_blocking_config(config)
    agent, mini = setup.start_agent(), setup.start_minisup()
    result = {}
    try:
        agent.wait_for_first_launch(120)
        mini.wait_for_first_launch(10)
        log("%s: %d relaunches each, alternating" % (config, samples))
        result["relaunch"] = relaunch_samples(agent, mini, samples)
        result["rss_kb"] = {sup.name: process_figures(sup.process.pid)["rss_kb"]
                            for sup in (agent, mini)}
        if trace:
            log("%s: system calls of one relaunch (strace)" % config)
            result["syscalls"] = {sup.name: strace_relaunch(sup) for sup in (agent, mini)}
        result["extra_launches"] = {sup.name: sup.extra_launches for sup in (agent, mini)}
        result["reads"] = config_reads(setup, agent)
        if replace:
            log("%s: replaced by typical.json" % config)
            result["replaced_rss_kb"] = replaced_rss(setup, agent, result["reads"])
    finally:
        agent.stop()
        mini.stop()
        reap_orphans()
    return result


def zeltoctl_status(setup, runs):
    setup.write_config(setup.config_text("large.json"))
    times = []
    for i in range(runs + 1):
        seconds, done = setup.zeltoctl_run(["status", "--now", CHECK_TIME])
        if done.returncode != 0:
            raise Failure("zeltoctl status failed: " + done.stderr.decode(errors="replace"))
        if i > 0:  # the first one warms the page cache
            times.append(seconds)
    return times


def zeltoctl_sites_add(setup, runs):
    """Seconds of `zeltoctl sites add` on a 1.2 MB record, each adding a new pattern."""
    setup.write_config(setup.config_text(SITES_ADD_CONFIG))
    times = []
    for i in range(runs + 1):
        seconds, done = setup.zeltoctl_run(["sites", "add", "bench-%d.example" % i])
        if done.returncode != 0:
            raise Failure("zeltoctl sites add failed: " + done.stderr.decode(errors="replace"))
        if i > 0:  # the first one warms the page cache
            times.append(seconds)
    return times


def validate_configs(setup):
    for name in ("typical.json", "large.json", SITES_ADD_CONFIG, "sparse.json"):
        setup.write_config(setup.config_text(name))
        _, done = setup.zeltoctl_run(["validate"])
        if done.returncode != 0:
            raise Failure("%s does not load: %s" % (name, (done.stdout + done.stderr).decode(
                errors="replace").strip()))


# ---------------------------------------------------------------------------------------------
# Google Benchmark

UNRELATED = ("BM_MapArray",)  # the functional helpers' own figures


def ere_escape(text):
    return re.sub(r"([.\[\]()*+?{}|^$\\])", r"\\\1", text)


def run_benchmarks(build, deadline):
    """Every family's results, each family in its own process so one that hangs costs only
    itself; {name: run} plus {family: error} for those that failed."""
    executable = os.path.join(build, "zelto_bench")
    if not os.path.exists(executable):
        return {}, {"zelto_bench": "not built"}
    listed = subprocess.run([executable, "--benchmark_list_tests=true"], capture_output=True,
                            text=True, timeout=60)
    families = []
    for name in listed.stdout.split():
        family = name.split("/")[0]
        if family not in families and not family.startswith(UNRELATED):
            families.append(family)
    runs, errors = {}, {}
    for index, family in enumerate(families):
        # Each family after this one keeps 15 s of the time left.
        left = deadline - now() - 15 * (len(families) - index - 1)
        if left < 5:
            errors[family] = "not run: out of time"
            continue
        out = os.path.join(tempfile.gettempdir(), "zelto-bench-%d.json" % os.getpid())
        log("zelto_bench: %s" % family)
        try:
            subprocess.run([executable, "--benchmark_filter=^%s(/|$)" % ere_escape(family),
                            "--benchmark_out=" + out, "--benchmark_out_format=json"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=left,
                           check=False)
            with open(out, encoding="utf-8") as f:
                for run in json.load(f).get("benchmarks", []):
                    runs.setdefault(run.get("run_name", run["name"]), []).append(run)
        except subprocess.TimeoutExpired:
            errors[family] = "timed out"
        except (OSError, ValueError) as e:
            errors[family] = "no results (%s)" % e
        finally:
            if os.path.exists(out):
                os.remove(out)
    return {name: pick_run(found) for name, found in runs.items()}, errors


def pick_run(found):
    """The median aggregate when there are repetitions, else the (median of the) runs."""
    for run in found:
        if run.get("run_type") == "aggregate" and run.get("aggregate_name") == "median":
            return run
    plain = [run for run in found if run.get("run_type", "iteration") == "iteration"]
    plain.sort(key=lambda run: run.get("cpu_time", 0))
    return plain[len(plain) // 2] if plain else found[0]


UNIT_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def run_seconds(run):
    """Seconds per iteration: CPU time, or real time for a benchmark that asked for it."""
    # An aggregate's name ends in "_median" and the like; its run_name is the benchmark's.
    key = "real_time" if run.get("run_name", run["name"]).endswith("/real_time") else "cpu_time"
    return run[key] * UNIT_SECONDS.get(run.get("time_unit", "ns"), 1e-9)


def per_item_seconds(run):
    """Seconds per URL: a counter naming it, else items processed, else the iteration."""
    for key, value in run.items():
        if isinstance(value, (int, float)) and re.search(r"ns.?per|per.?url", key, re.I):
            return value * 1e-9
    if run.get("items_per_second"):
        return 1.0 / run["items_per_second"]
    return run_seconds(run)


def find_run(runs, *patterns, exclude=None):
    for name in sorted(runs):
        if exclude and re.search(exclude, name, re.I):
            continue
        if all(re.search(p, name, re.I) for p in patterns):
            return name
    return None


# ---------------------------------------------------------------------------------------------
# The table


def duration(seconds):
    if seconds is None:
        return "—"
    if seconds < 1e-6:
        return "%.0f ns" % (seconds * 1e9)
    if seconds < 1e-3:
        return "%.2f µs" % (seconds * 1e6)
    if seconds < 10e-3:
        return "%.2f ms" % (seconds * 1e3)
    if seconds < 1:
        return "%.1f ms" % (seconds * 1e3)
    return "%.2f s" % seconds


def verdict(ok):
    """Empty (no goal), yes, **no**; a text as it is (a "no" saying what missed)."""
    if isinstance(ok, str):
        return ok
    return "" if ok is None else ("yes" if ok else "**no**")


class Table:
    def __init__(self):
        self.rows = []

    def add(self, figure, goal, measured, baseline="", ok=None):
        self.rows.append((figure, goal, measured, baseline, verdict(ok)))

    def text(self):
        head = ("Figure", "Goal", "Measured", "minisup / peers", "Met")
        lines = ["| " + " | ".join(head) + " |", "|" + "|".join("---" for _ in head) + "|"]
        for row in self.rows:
            lines.append("| " + " | ".join(row) + " |")
        return "\n".join(lines)


def relaunch_rows(table, result, config, median_factor, samples):
    times = result.get("relaunch")
    if not times:
        table.add("Relaunch, %s" % config, "", "failed")
        return
    agent, mini = times["agent"], times["minisup"]
    a_med, m_med = statistics.median(agent), statistics.median(mini)
    a_max, m_max = max(agent), max(mini)
    table.add("Relaunch median, %s (%d kills)" % (config, samples),
              "≤ %.1f × minisup" % median_factor,
              "%s (%.2f ×)" % (duration(a_med), a_med / m_med), duration(m_med),
              a_med <= median_factor * m_med)
    worst_goal = config == "typical.json"
    table.add("Relaunch worst of %d, %s" % (samples, config),
              "≤ 2 × minisup's worst" if worst_goal else "—",
              "%s (%.2f ×)" % (duration(a_max), a_max / m_max), duration(m_max),
              a_max <= 2 * m_max if worst_goal else None)


def proxy_rows(table, runs, used):
    """ProxyBench.cpp: wall time per GET (with requests per second) direct and through the
    proxy, the difference, and the CONNECT tunnel's throughput."""

    def latency(figure, *patterns):
        name = find_run(runs, r"proxy", *patterns)
        if name is None:
            table.add(figure, "—", "not measured (no benchmark)")
            return None
        used.add(name)
        run = runs[name]
        if run.get("error_occurred"):
            table.add(figure, "—", "error: %s" % run.get("error_message", "?"))
            return None
        seconds = run_seconds(run)
        table.add(figure + " `%s`" % name, "—", "%s (%.0f requests/s)" % (duration(seconds),
                                                                         1 / seconds))
        return seconds

    def added(figure, proxied, direct):
        if proxied is not None and direct is not None:
            difference = proxied - direct
            table.add(figure, "—", "%s%s (%+.0f %%)" % ("−" if difference < 0 else "+",
                                                        duration(abs(difference)),
                                                        100 * difference / direct))

    for size, label in (("128", "128 B"), ("65536", "64 KiB")):
        body = r"body:%s(/|$)" % size
        direct = latency("Proxy: GET of %s, direct" % label, r"direct", body)
        passed = latency("Proxy: GET of %s, through the proxy (passes all)" % label, r"pass",
                         body)
        added("Proxy: added latency, %s (proxied − direct)" % label, passed, direct)
        if size == "128":
            asked = latency("Proxy: GET of %s, through the proxy (asks the controller, "
                            "typical.json)" % label, r"controller", body)
            added("Proxy: added latency with the controller, %s (proxied − direct)" % label,
                  asked, direct)
    name = find_run(runs, r"proxy", r"tunnel")
    if name is not None:
        used.add(name)
        run = runs[name]
        if run.get("error_occurred"):
            table.add("Proxy: CONNECT tunnel throughput", "—",
                      "error: %s" % run.get("error_message", "?"))
        elif run.get("bytes_per_second"):
            table.add("Proxy: CONNECT tunnel throughput `%s`" % name, "—",
                      "%.0f MB/s" % (run["bytes_per_second"] / 1e6))


def build_table(results, samples):
    table = Table()
    typical, large = results.get("typical", {}), results.get("large", {})
    sparse = results.get("sparse", {})
    relaunch_rows(table, typical, "typical.json", 1.2, samples)
    relaunch_rows(table, large, "large.json", 1.3, samples)
    relaunch_rows(table, sparse, "sparse.json", 1.3, samples)
    if "reads" in sparse:
        table.add("Reads of sparse.json by the agent (start and %d relaunches)" % samples, "1",
                  str(sparse["reads"]), "", sparse["reads"] == 1)
    for config, result in (("typical.json", typical), ("large.json", large),
                           ("sparse.json", sparse)):
        extra = result.get("extra_launches", {}).get("agent")
        if extra:
            table.add("Launches while the application ran, %s" % config, "0", str(extra), "",
                      False)
    calls = typical.get("syscalls")
    if calls:
        table.add("System calls per relaunch, typical.json (strace, 5 s)", "—",
                  str(calls["agent"]) if calls["agent"] is not None else "—",
                  str(calls["minisup"]) if calls["minisup"] is not None else "—")
    rest = results.get("rest")
    if rest:
        a, m = rest["agent"], rest["minisup"]
        seconds = results["rest_seconds"]
        who = " (run as %s)" % results["rest_user"] if results.get("rest_user") else ""
        others = rest.get("other_bundle_ends", 0)
        table.add("At rest %.0f s%s: wake-ups (context switches, all threads)" % (seconds, who),
                  "0 (no 75-s check in the window)",
                  str(a["wakeups"]) + (" (%d processes of other bundles ended meanwhile)" % others
                                       if others else ""),
                  str(m["wakeups"]), a["wakeups"] == 0 if not others else None)
        table.add("At rest %.0f s: CPU (utime+stime)" % seconds, "≤ 0.01 s",
                  "%.2f s" % a["cpu"], "%.2f s" % m["cpu"],
                  a["cpu"] <= 0.01 + 1e-9 if not others else None)
        table.add("At rest: RSS, typical.json (%d threads)" % a["threads"], "≤ 10 MB",
                  "%.1f MB" % (a["rss_kb"] / 1024), "%.1f MB" % (m["rss_kb"] / 1024),
                  a["rss_kb"] <= 10 * 1024)
    app_rest = results.get("app_rest")
    if app_rest:
        seconds = results["rest_seconds"]
        table.add("Application at rest %.0f s, a block without blocked programs: wake-ups a "
                  "minute (context switches, all %d threads)" % (seconds, app_rest["threads"]),
                  "0", "%.1f" % (app_rest["wakeups"] * 60.0 / seconds), "",
                  app_rest["wakeups"] == 0)
    if large.get("rss_kb"):
        table.add("RSS after the relaunches, large.json", "—",
                  "%.1f MB" % (large["rss_kb"]["agent"] / 1024),
                  "%.1f MB" % (large["rss_kb"]["minisup"] / 1024))
    if "replaced_rss_kb" in sparse:
        rss = sparse["replaced_rss_kb"]
        table.add("RSS at rest after sparse.json was replaced by typical.json", "≤ 12 MB",
                  "%.1f MB" % (rss / 1024) if rss is not None else "the agent never read it",
                  "", rss is not None and rss <= 12 * 1024)
    status = results.get("status")
    if status:
        med = statistics.median(status)
        table.add("`zeltoctl status`, large.json (median of %d)" % len(status), "≤ 150 ms",
                  duration(med), "", med <= 0.150)
    sites_add = results.get("sites_add")
    if sites_add:
        med = statistics.median(sites_add)
        table.add("`zeltoctl sites add`, %s (1.2 MB; median of %d)" % (SITES_ADD_CONFIG,
                                                                     len(sites_add)),
                  "≤ 40 ms", duration(med), "", med <= 0.040)

    if "benchmarks" not in results:
        return table
    runs, errors = results["benchmarks"]
    used = set()

    def run_row(figure, goal, name, value, limit):
        if name is None:
            table.add(figure, goal, "not measured (no benchmark)")
            return None
        used.add(name)
        run = runs[name]
        if run.get("error_occurred"):
            table.add(figure, goal, "error: %s" % run.get("error_message", "?"))
            return None
        v = value(run)
        table.add(figure + " `%s`" % name, goal, duration(v), "",
                  None if limit is None else v <= limit)
        return v

    for config, limit in (("typical", 1e-3), ("large", 50e-3)):
        run_row("Whole check CPU, %s.json" % config, "≤ %s" % duration(limit),
                find_run(runs, r"WholeCheck", config), run_seconds, limit)
    indexed = run_row("URL decision per URL, indexed", "≤ 2 µs",
                      find_run(runs, r"url|match|decid|decision", r"index",
                               exclude=r"walk|rebuild|update|build"),
                      per_item_seconds, 2e-6)
    walk = run_row("URL decision per URL, walk", "—",
                   find_run(runs, r"url|match|decid|decision", r"walk"), per_item_seconds, None)
    if indexed and walk:
        table.add("URL decision, walk ÷ indexed", "≥ 100 ×", "%.0f ×" % (walk / indexed), "",
                  walk / indexed >= 100)
    run_row("Matcher rebuild", "≤ 50 ms",
            find_run(runs, r"rebuild|updatematches|update_matches", exclude=r"and|first|pass"),
            run_seconds, 50e-3)
    run_row("Reload, file unchanged", "—",
            find_run(runs, r"reload|refresh", r"unchanged|same"), run_seconds, None)
    run_row("Reload, file changed", "—",
            find_run(runs, r"reload|refresh", r"changed|modified|rewrit",
                     exclude=r"unchanged|same"), run_seconds, None)
    proxy_rows(table, runs, used)
    for name in sorted(set(runs) - used):
        run = runs[name]
        if run.get("error_occurred"):
            table.add("`%s`" % name, "—", "error: %s" % run.get("error_message", "?"))
        else:
            table.add("`%s`" % name, "—", duration(run_seconds(run)))
    for family, error in sorted(errors.items()):
        table.add("`%s`" % family, "—", error)
    return table


def machine_line():
    model = "?"
    try:
        for line in read_text("/proc/cpuinfo").splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    load = read_text("/proc/loadavg").split()[:3]
    return "%d × %s, Linux %s, %s, load average %s at the start" % (
        os.cpu_count() or 0, model, platform.release(),
        datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z"), " ".join(load))


# ---------------------------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build", help="the build directory (default: build)")
    parser.add_argument("--samples", type=int, default=30,
                        help="relaunches per supervisor and configuration (20-60; default 30)")
    parser.add_argument("--rest", type=float, default=60.0, help="at-rest window, seconds")
    parser.add_argument("--rest-user", default="nobody" if os.geteuid() == 0 else "",
                        help="user the at-rest pair runs as, so that other users' programs "
                        "don't wake it (default: nobody when run as root; empty: the caller)")
    parser.add_argument("--status-runs", type=int, default=5)
    parser.add_argument("--budget", type=float,
                        help="seconds for everything; Google Benchmark gets what is left "
                        "(default: 540, plus the proxy comparison's estimate when it runs)")
    parser.add_argument("--proxy-peers", dest="proxy_peers", action="store_true", default=True,
                        help="compare the main application's proxy with tinyproxy, privoxy "
                        "and squid (the default; scripts/bench installs them when missing)")
    parser.add_argument("--no-proxy-peers", dest="proxy_peers", action="store_false",
                        help="skip that comparison")
    parser.add_argument("--proxy-seconds", type=int, default=2,
                        help="seconds of each run of the proxy comparison (default 2)")
    parser.add_argument("--no-benchmarks", action="store_true", help="skip zelto_bench")
    parser.add_argument("--no-strace", action="store_true", help="skip the system-call count")
    parser.add_argument("--keep", action="store_true", help="keep the temporary directory")
    parser.add_argument("--json", help="also write every figure to this file")
    args = parser.parse_args()

    if args.budget is None:
        args.budget = 540.0 + (proxy_peers.estimate(args.proxy_seconds) if args.proxy_peers
                               else 0.0)
    deadline = now() + args.budget
    caption = machine_line()
    become_subreaper()
    rest_user = pwd.getpwnam(args.rest_user) if args.rest_user else None
    results = {"rest_seconds": args.rest, "rest_user": args.rest_user or None}
    setup = Setup(args.build, args.keep, rest_user)
    try:
        log("set up in %s" % setup.root)
        validate_configs(setup)
        if args.rest > 0:
            results["rest"] = rest_phase(setup, "typical.json", args.rest)
            results["app_rest"] = app_rest_phase(setup, "typical.json", args.rest)
        results["typical"] = relaunch_phase(setup, "typical.json", args.samples,
                                            not args.no_strace)
        results["large"] = relaunch_phase(setup, "large.json", args.samples, False)
        results["sparse"] = relaunch_phase(setup, "sparse.json", args.samples, False, True)
        log("zeltoctl status on large.json")
        results["status"] = zeltoctl_status(setup, args.status_runs)
        log("zeltoctl sites add on %s" % SITES_ADD_CONFIG)
        results["sites_add"] = zeltoctl_sites_add(setup, args.status_runs)
    except Failure as e:
        log("FAILED: %s" % e)
        results["failure"] = str(e)
    finally:
        setup.remove()
        reap_orphans()
    if args.proxy_peers:
        # Google Benchmark keeps 60 s at least.
        results["proxy_peers"] = proxy_peers.run(os.path.abspath(args.build),
                                                 args.proxy_seconds, deadline - 60)
        reap_orphans()
    if not args.no_benchmarks:
        results["benchmarks"] = run_benchmarks(os.path.abspath(args.build), deadline)

    table = build_table(results, args.samples)
    proxy_peers.add_rows(table, results.get("proxy_peers"))
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump(dict(results, machine=caption, table=table.rows), f, indent=1)
    print(caption + "\n")
    print(table.text())
    status = 0
    if "failure" in results:
        print("\nFailed: " + results["failure"].splitlines()[0])
        status = 1
    if results.get("proxy_peers", {}).get("failure"):
        print("\nProxy comparison failed: "
              + results["proxy_peers"]["failure"].splitlines()[0])
        status = 1
    return status


if __name__ == "__main__":
    sys.exit(main())
