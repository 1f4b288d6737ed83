#!/usr/bin/env python3
"""The main application's filtering proxy beside the proxies a user might pick instead.

tinyproxy, privoxy and squid (Debian's) block the same hosts as the real built program, and
direct requests to the origin are the baseline. The origin is Debian's nginx; the load is
Debian's wrk, sending absolute-form requests (`GET http://ORIGIN/... HTTP/1.1`) to each proxy.
Rows: an allowed GET of 128 B and of 100 KB and a blocked GET, at 1, 16 and 64 connections,
kept alive or closed after each request, with block lists of 100 and of 50,000 hosts. Figures:
median and p99 latency, requests per second, the proxy's resident memory after the load, and a
CONNECT tunnel's throughput against a direct transfer. bench/README.md explains each one.

Every program runs as the caller from a private temporary directory, on a loopback port picked
free for it; nothing reads or writes the system's own configuration of those programs, so their
services (if any run) and other copies of Zelto on the machine are left alone. Everything
started is stopped at the end, also on failure.

Run.py calls `run` and `add_rows`; alone (for a quick look while working on the proxy):
    python3 bench/harness/proxy_peers.py --build build --seconds 1 --only zelto,squid
prints the comparison's rows as a Markdown table.
"""

import argparse
import ctypes
import datetime
import http.client
import json
import os
import plistlib
import pwd
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

SERVERS = ("zelto", "tinyproxy", "privoxy", "squid")  # the proxies measured; "direct" besides
PEERS = ("tinyproxy", "privoxy", "squid")
KINDS = (("allowed-128", "allowed 128 B GET", "/128.bin", 128),
         ("allowed-100k", "allowed 100 KB GET", "/100k.bin", 100 * 1024),
         ("blocked", "blocked GET", "/128.bin", None))
CONNECTIONS = (1, 16, 64)
MODES = (("kept", "kept alive"), ("closed", "closed"))
LIST_SIZES = (100, 50000)
TUNNEL_FILE = 64 * 1024 * 1024  # bytes of the file the CONNECT figure downloads, repeatedly
TUNNEL_SECONDS = 1.0  # each transfer measurement lasts at least this long
PROGRAMS = {"tinyproxy": "tinyproxy", "privoxy": "privoxy", "squid": "squid", "nginx": "nginx",
            "wrk": "wrk"}
PACKAGES = ("tinyproxy", "privoxy", "squid", "nginx", "wrk")  # scripts/bench installs these

# Goals (bench/README.md).
ADDED_LATENCY_GOAL = 50e-6  # median, allowed 128 B, one kept-alive connection, over direct
RSS_GOAL_KB = 24 * 1024  # with 50,000 hosts
TUNNEL_GOAL = 0.8  # × direct


def log(message):
    print("bench: proxies: " + message, file=sys.stderr, flush=True)


def now():
    return time.clock_gettime(time.CLOCK_MONOTONIC)


class Failure(Exception):
    pass


def find_program(name):
    return shutil.which(name, path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")


def missing_programs():
    return [name for name, program in PROGRAMS.items() if find_program(program) is None]


def free_port():
    """A loopback port nothing listens on now (the kernel's pick)."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def read_text(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


def write_text(path, text):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


def children_of():
    """{parent pid: [child pids]} of every process now."""
    tree = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        stat = read_text("/proc/%s/stat" % name)
        if not stat:
            continue
        ppid = int(stat[stat.rindex(")") + 2:].split()[1])
        tree.setdefault(ppid, []).append(int(name))
    return tree


def process_tree(pid):
    tree, found, todo = children_of(), [], [pid]
    while todo:
        current = todo.pop()
        found.append(current)
        todo.extend(tree.get(current, []))
    return found


def cpu_seconds(pids):
    """utime + stime of the processes (all their threads)."""
    total = 0
    for pid in pids:
        stat = read_text("/proc/%d/stat" % pid)
        if stat:
            fields = stat[stat.rindex(")") + 2:].split()
            total += int(fields[11]) + int(fields[12])
    return total / os.sysconf("SC_CLK_TCK")


def settle(server, limit=15.0):
    """Waits until the server has used no CPU for 0.1 s (or `limit` seconds passed): a slow
    proxy may still be working through requests wrk sent before it stopped, which would fall
    on the next run, of another server."""
    deadline = now() + limit
    before = cpu_seconds(server.pids())
    while now() < deadline:
        time.sleep(0.1)
        after = cpu_seconds(server.pids())
        if after - before < 0.01:
            return
        before = after


def rss_kb(pids):
    total = 0
    for pid in pids:
        for line in read_text("/proc/%d/status" % pid).splitlines():
            if line.startswith("VmRSS:"):
                total += int(line.split()[1])
    return total


# ---------------------------------------------------------------------------------------------
# Servers


def die_with_parent():
    """In the child: SIGKILL when the harness ends, even killed (PR_SET_PDEATHSIG)."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL, 0, 0, 0)
    except (OSError, AttributeError):
        pass


class Server:
    """A program started in a session of its own, its output in a file of the directory.
    Every one started is in `Server.started` until it is stopped."""

    started = []

    def __init__(self, name, argv, directory, port, env=None, user=None):
        self.name = name
        self.port = port
        self.directory = directory
        self.err_path = os.path.join(directory, name + ".out")
        as_user = {} if user is None else {"user": user.pw_uid, "group": user.pw_gid,
                                           "extra_groups": []}
        with open(self.err_path, "wb") as err:
            if user is not None:
                os.fchown(err.fileno(), user.pw_uid, user.pw_gid)
            self.process = subprocess.Popen(argv, cwd=directory, env=env,
                                            stdin=subprocess.DEVNULL, stdout=err, stderr=err,
                                            start_new_session=True, preexec_fn=die_with_parent,
                                            **as_user)
        Server.started.append(self)

    def tail(self, extra=()):
        lines = []
        for path in (self.err_path,) + tuple(extra):
            lines += read_text(path).splitlines()[-8:]
        return "\n".join(lines)

    def wait_listening(self, timeout, extra_logs=()):
        deadline = now() + timeout
        while now() < deadline:
            if self.process.poll() is not None:
                raise Failure("%s ended (status %s) at its start:\n%s"
                              % (self.name, self.process.returncode, self.tail(extra_logs)))
            if listening(self.port):
                return
            time.sleep(0.05)
        raise Failure("%s does not listen on %d after %.0f s:\n%s"
                      % (self.name, self.port, timeout, self.tail(extra_logs)))

    def pids(self):
        return process_tree(self.process.pid) if self.process.poll() is None else []

    def stop(self):
        """SIGTERM to its session, then SIGKILL to whatever of it is left."""
        if self.process.poll() is None:
            family = self.pids()
            try:
                os.killpg(self.process.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                pass
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            for pid in family:  # any that left its session
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            pass
        if self in Server.started:
            Server.started.remove(self)


def start_origin(root):
    """nginx serving the files of the figures on keep-alive connections, from its own files."""
    directory = os.path.join(root, "origin")
    www = os.path.join(directory, "www")
    os.makedirs(www)
    for name, size in (("128.bin", 128), ("100k.bin", 100 * 1024)):
        with open(os.path.join(www, name), "wb") as f:
            f.write(bytes((i * 7 + 13) % 251 for i in range(size)))
    with open(os.path.join(www, "tunnel.bin"), "wb") as f:
        f.truncate(TUNNEL_FILE)
    port = free_port()
    temp = os.path.join(directory, "temp")
    os.makedirs(temp)
    user = "user root root;\n" if os.geteuid() == 0 else ""
    config = write_text(os.path.join(directory, "nginx.conf"), f"""\
daemon off;
master_process on;
worker_processes 2;
{user}pid {directory}/nginx.pid;
error_log {directory}/error.log error;
events {{ worker_connections 4096; }}
http {{
  access_log off;
  sendfile on;
  tcp_nodelay on;
  keepalive_timeout 300s;
  keepalive_requests 100000000;
  default_type application/octet-stream;
  open_file_cache max=16 inactive=300s;
  client_body_temp_path {temp}/body;
  proxy_temp_path {temp}/proxy;
  fastcgi_temp_path {temp}/fastcgi;
  uwsgi_temp_path {temp}/uwsgi;
  scgi_temp_path {temp}/scgi;
  server {{
    listen 127.0.0.1:{port} backlog=4096;
    root {www};
  }}
}}
""")
    server = Server("nginx", [find_program("nginx"), "-p", directory, "-e",
                              os.path.join(directory, "error.log"), "-c", config],
                    directory, port)
    server.wait_listening(10, (os.path.join(directory, "error.log"),))
    return server


def blocked_hosts(count):
    return ["site%05d.test" % i for i in range(count)]


def start_tinyproxy(root, hosts):
    directory = os.path.join(root, "tinyproxy-%d" % len(hosts))
    os.makedirs(directory)
    port = free_port()
    # fnmatch rules, the host and its subdomains: with 50,000 hosts, regular expressions (bre,
    # ere) take 0.4-0.7 GB and 30-100 ms a request; these take 8 MB and about 1 ms.
    write_text(os.path.join(directory, "filter"),
               "".join("%s\n*.%s\n" % (host, host) for host in hosts))
    config = write_text(os.path.join(directory, "tinyproxy.conf"), f"""\
Port {port}
Listen 127.0.0.1
Timeout 60
MaxClients 512
LogFile "{directory}/tinyproxy.log"
LogLevel Error
PidFile "{directory}/tinyproxy.pid"
Filter "{directory}/filter"
FilterType fnmatch
FilterURLs Off
FilterDefaultDeny No
""")
    server = Server("tinyproxy", [find_program("tinyproxy"), "-d", "-c", config], directory,
                    port)
    server.wait_listening(60, (os.path.join(directory, "tinyproxy.log"),))
    return server


def start_privoxy(root, hosts):
    directory = os.path.join(root, "privoxy-%d" % len(hosts))
    os.makedirs(directory)
    port = free_port()
    # Blocks the hosts (and their subdomains); nothing else: no filters, no other actions. CONNECT
    # may reach any port (by default only 443), for the tunnel figure.
    write_text(os.path.join(directory, "blocked.action"),
               "{ +limit-connect{-} }\n/\n\n{ +block{On the benchmark's block list.} }\n"
               + "".join(".%s\n" % host for host in hosts))
    templates = "/etc/privoxy/templates"
    config = write_text(os.path.join(directory, "config"), f"""\
confdir {directory}
templdir {templates}
logdir {directory}
actionsfile blocked.action
listen-address 127.0.0.1:{port}
toggle 1
enable-remote-toggle 0
enable-remote-http-toggle 0
enable-edit-actions 0
enforce-blocks 0
keep-alive-timeout 300
socket-timeout 60
max-client-connections 512
tolerate-pipelining 1
""")
    server = Server("privoxy", [find_program("privoxy"), "--no-daemon", config], directory, port)
    server.wait_listening(60)
    return server


def start_squid(root, hosts):
    directory = os.path.join(root, "squid-%d" % len(hosts))
    os.makedirs(directory)
    port = free_port()
    write_text(os.path.join(directory, "blocked.domains"),
               "".join(".%s\n" % host for host in hosts))
    config = write_text(os.path.join(directory, "squid.conf"), f"""\
http_port 127.0.0.1:{port}
workers 1
pid_filename {directory}/squid.pid
cache_log {directory}/cache.log
access_log none
cache_store_log none
coredump_dir {directory}
netdb_filename none
pinger_enable off
visible_hostname zelto-bench
shutdown_lifetime 0 seconds
cache deny all
cache_mem 0 MB
max_filedescriptors 8192
acl blocked dstdomain -n "{directory}/blocked.domains"
http_access deny blocked
http_access allow all
""")
    # Squid refuses to run as root: under a root harness it runs as nobody, in a directory of
    # its own (the temporary directory above it lets it through).
    user = None
    if os.geteuid() == 0:
        user = pwd.getpwnam("nobody")
        os.chmod(root, 0o711)
        for path in [directory] + [os.path.join(directory, f) for f in os.listdir(directory)]:
            os.chown(path, user.pw_uid, user.pw_gid)
    server = Server("squid", [find_program("squid"), "--foreground", "-f", config], directory,
                    port, user=user)
    server.wait_listening(60, (os.path.join(directory, "cache.log"),))
    return server


def zelto_date(seconds_from_now):
    moment = datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(
        seconds=seconds_from_now)
    return moment.strftime("%Y-%m-%dT%H:%M:%S.") + "%03dZ" % (moment.microsecond // 1000)


def snapshot_bundle(build, root, attempts=6):
    """A private copy of the built bundle that runs (`Zelto --version`): the build may be
    relinking it meanwhile, so a copy that doesn't run is taken again a little later. Both
    block lists run this one copy. Its path and the built program's modification time."""
    copy = os.path.join(root, "Zelto.app")
    program = os.path.join(copy, "Contents/MacOS/Zelto")
    for attempt in range(attempts):
        shutil.rmtree(copy, ignore_errors=True)
        built = os.path.getmtime(os.path.join(build, "Zelto.app/Contents/MacOS/Zelto"))
        try:
            shutil.copytree(os.path.join(build, "Zelto.app"), copy, symlinks=True)
            done = subprocess.run([program, "--version"], capture_output=True, timeout=30)
            if done.returncode == 0 and os.path.getmtime(
                    os.path.join(build, "Zelto.app/Contents/MacOS/Zelto")) == built:
                return copy, built
        except (OSError, subprocess.SubprocessError):
            pass
        log("the built bundle is changing; copying it again in 15 s")
        time.sleep(15 if attempt + 1 < attempts else 0)
    raise Failure("no copy of %s/Zelto.app runs (a build going on?)" % build)


def start_zelto(root, bundle, hosts):
    """The real built program, from the private copy of the bundle, under a private home, its
    ports picked free, its timer blocking the hosts for the next hours."""
    directory = os.path.join(root, "zelto-%d" % len(hosts))
    home = os.path.join(directory, "home")
    for sub in (".local/share/Zelto", ".config/Zelto/Preferences"):
        os.makedirs(os.path.join(home, sub))
    runtime = os.path.join(directory, "run")
    os.makedirs(runtime, mode=0o700)
    port, block_port = free_port(), free_port()
    with open(os.path.join(home, ".config/Zelto/Preferences/Quarnix.zelto.plist"), "wb") as f:
        plistlib.dump({"ProxyPort": port}, f)
    config = {"zeltoType": 1, "lastZeltoDate": zelto_date(-60),
              "zeltoUnblockDate": zelto_date(6 * 3600), "lastUnzeltoDate": zelto_date(6 * 3600),
              "httpPort": block_port, "profiles": [{"blockedWebsites": hosts}]}
    path = os.path.join(home, ".local/share/Zelto/default.cfg")
    write_text(path + ".tmp", json.dumps(config))
    os.replace(path + ".tmp", path)
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("XDG_", "ZELTO_", "DBUS_SESSION_BUS_ADDRESS"))}
    env.update(HOME=home, XDG_RUNTIME_DIR=runtime, LANG="C.UTF-8")
    server = Server("zelto", [os.path.join(bundle, "Contents/MacOS/Zelto")], directory, port,
                    env)
    server.wait_listening(120)
    return server


def start_server(name, root, bundle, hosts):
    if name == "zelto":
        return start_zelto(root, bundle, hosts)
    return {"tinyproxy": start_tinyproxy, "privoxy": start_privoxy,
            "squid": start_squid}[name](root, hosts)


# ---------------------------------------------------------------------------------------------
# Requests


def fetch(port, target, host, timeout=10.0):
    """One GET of `target` (absolute for a proxy) at 127.0.0.1:`port`: (status, headers, body)."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        connection.putrequest("GET", target, skip_host=True, skip_accept_encoding=True)
        connection.putheader("Host", host)
        connection.endheaders()
        response = connection.getresponse()
        return response.status, dict(response.getheaders()), response.read()
    finally:
        connection.close()


def expected_body(path):
    size = 128 if path == "/128.bin" else 100 * 1024
    return bytes((i * 7 + 13) % 251 for i in range(size))


def check_server(name, port, origin, blocked_host, timeout):
    """That the proxy passes the origin's files byte for byte and blocks the blocked host
    (Zelto: 302 to its block page; the others: 403), within `timeout` (Zelto applies its
    configuration right after it starts)."""
    deadline = now() + timeout
    while True:
        problems = []
        try:
            for path in ("/128.bin", "/100k.bin"):
                status, _, body = fetch(port, "http://%s%s" % (origin, path), origin)
                if status != 200 or body != expected_body(path):
                    problems.append("%s answered %d with %d bytes" % (path, status, len(body)))
            status, headers, _ = fetch(port, "http://%s/128.bin" % blocked_host, blocked_host)
            location = {k.lower(): v for k, v in headers.items()}.get("location", "")
            blocked = (status == 302 and "/block/" in location) if name == "zelto" else (
                status == 403)
            if not blocked:
                problems.append("the blocked host answered %d %s" % (status, location))
        except (OSError, http.client.HTTPException) as e:
            problems.append(str(e) or type(e).__name__)
        if not problems:
            return
        if now() > deadline:
            raise Failure("%s: %s" % (name, "; ".join(problems)))
        time.sleep(0.2)


WRK_SCRIPT = """\
wrk.method = "GET"
wrk.path = "{path}"
wrk.headers["Host"] = "{host}"
{close}
done = function(summary, latency, requests)
  local e = summary.errors
  io.write(string.format("WRK-FIGURES %d %d %d %d %d %d %d %.1f %.1f\\n",
    summary.requests, summary.duration, e.connect, e.read, e.write, e.status, e.timeout,
    latency:percentile(50), latency:percentile(99)))
end
"""


def wrk(directory, port, path, host, connections, close, seconds):
    """wrk against 127.0.0.1:`port`: requests per second, median and p99 latency (seconds),
    the transport errors and the answers with a status of 400 or more."""
    script = write_text(os.path.join(directory, "wrk.lua"), WRK_SCRIPT.format(
        path=path, host=host, close='wrk.headers["Connection"] = "close"' if close else ""))
    argv = [find_program("wrk"), "-t1", "-c%d" % connections, "-d%ds" % seconds,
            "--timeout", "10s", "--latency", "-s", script, "http://127.0.0.1:%d/" % port]
    try:
        done = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=seconds + 60)
    except subprocess.TimeoutExpired as e:
        raise Failure("wrk did not end within %d s" % (seconds + 60)) from e
    for line in done.stdout.splitlines():
        if line.startswith("WRK-FIGURES "):
            requests, micros, connect, read, write, status, timeout, p50, p99 = (
                float(x) for x in line.split()[1:])
            # A read error is mostly a connection the proxy closed after an answer without
            # saying so (tinyproxy does that to every one): wrk's next request on it fails
            # and is sent again on a new connection. Kept apart from the failures.
            return {"rps": requests / (micros / 1e6) if micros else 0.0,
                    "requests": int(requests), "p50": p50 / 1e6, "p99": p99 / 1e6,
                    "errors": int(connect + write + timeout), "read_errors": int(read),
                    "bad_status": int(status)}
    raise Failure("wrk printed no figures (status %d): %s"
                  % (done.returncode, (done.stdout + done.stderr).strip()[-400:]))


def read_response_head(sock, pending):
    while b"\r\n\r\n" not in pending:
        data = sock.recv(65536)
        if not data:
            raise Failure("the connection ended before the answer's head")
        pending += data
    head, rest = pending.split(b"\r\n\r\n", 1)
    return head.decode("latin-1"), rest


def transfer_rate(origin_port, proxy_port, seconds):
    """Bytes per second of repeated downloads of the big file on one connection, direct or
    through a CONNECT tunnel of the proxy at `proxy_port`."""
    origin = "127.0.0.1:%d" % origin_port
    sock = socket.create_connection(("127.0.0.1", proxy_port or origin_port), timeout=30)
    try:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        pending = b""
        if proxy_port:
            sock.sendall(b"CONNECT %s HTTP/1.1\r\nHost: %s\r\n\r\n" % (origin.encode(),
                                                                       origin.encode()))
            head, pending = read_response_head(sock, b"")
            if not re.match(r"HTTP/1\.[01] 200", head):
                raise Failure("CONNECT answered %s" % head.splitlines()[0])
        buffer = bytearray(1 << 20)
        view = memoryview(buffer)
        total, started = 0, now()
        while now() - started < seconds:
            sock.sendall(b"GET /tunnel.bin HTTP/1.1\r\nHost: %s\r\n\r\n" % origin.encode())
            head, pending = read_response_head(sock, pending)
            length = int(re.search(r"(?im)^content-length:\s*(\d+)", head).group(1))
            got = len(pending)
            pending = b""
            while got < length:
                n = sock.recv_into(view, min(len(buffer), length - got))
                if n == 0:
                    raise Failure("the connection ended in the middle of a download")
                got += n
            total += length
        return total / (now() - started)
    finally:
        sock.close()


# ---------------------------------------------------------------------------------------------
# The comparison


def versions():
    found = {}
    for package in PACKAGES:
        done = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                              capture_output=True, text=True)
        found[package] = done.stdout.strip() if done.returncode == 0 else "?"
    return found


def run_count(servers, lists=len(LIST_SIZES), direct=True):
    proxied = len(KINDS) * len(CONNECTIONS) * len(MODES) * lists * len(servers)
    return proxied + ((len(KINDS) - 1) * len(CONNECTIONS) * len(MODES) if direct else 0)


def estimate(seconds, servers=SERVERS):
    """Seconds the comparison takes, roughly: the runs, the starts, the transfers."""
    return (run_count(servers) * (seconds + 0.35) + len(LIST_SIZES) * (4 + 3 * len(servers))
            + 2 * (len(servers) + 1) * (TUNNEL_SECONDS + 0.2) + 5)


def key(kind, connections, mode, size):
    return "%s/%d/%s/%s" % (kind, connections, mode, size)


def run(build, seconds=2, deadline=None, servers=SERVERS):
    """Every figure: {"runs": {key: {server: figures}}, "rss_kb": {size: {server: kB}},
    "tunnel": {server: bytes per second}, ...}; "failure" when it could not finish, "missing"
    when programs are missing (nothing measured then)."""
    results = {"seconds": seconds, "servers": list(servers), "runs": {}, "rss_kb": {},
               "tunnel": {}, "errors": {}}
    missing = missing_programs()
    if missing:
        results["missing"] = missing
        log("not run: %s missing (scripts/bench installs them)" % ", ".join(missing))
        return results
    if "zelto" in servers and not os.path.exists(
            os.path.join(build, "Zelto.app/Contents/MacOS/Zelto")):
        results["missing"] = ["Zelto.app (build first)"]
        return results
    if deadline is not None:
        while seconds > 1 and now() + estimate(seconds, servers) > deadline:
            seconds -= 1
        results["seconds"] = seconds
    results["versions"] = versions()
    root = tempfile.mkdtemp(prefix="zelto-proxies-")
    previous_handler = signal.getsignal(signal.SIGTERM)
    if previous_handler in (signal.SIG_DFL, None):
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # so that `finally` stops them
    began = now()
    try:
        bundle = None
        if "zelto" in servers:
            bundle, built = snapshot_bundle(build, root)
            results["built"] = datetime.datetime.fromtimestamp(built).astimezone().strftime(
                "%Y-%m-%d %H:%M:%S %Z")
        origin_server = start_origin(root)
        origin = "127.0.0.1:%d" % origin_server.port
        work = os.path.join(root, "wrk")
        os.makedirs(work)
        for size in LIST_SIZES:
            hosts = blocked_hosts(size)
            blocked_host = hosts[size // 2]
            running = {}
            for name in servers:
                log("%s with %d hosts: starting" % (name, size))
                running[name] = start_server(name, root, bundle, hosts)
                check_server(name, running[name].port, origin, blocked_host, 60)
            if size == LIST_SIZES[0]:
                log("CONNECT transfers")
                measure_tunnels(results, origin_server.port, running)
            log("%d hosts: %d runs of %d s" % (
                size, run_count(running, 1, size == LIST_SIZES[0]), seconds))
            # Direct requests take their turns with the first list's runs.
            measure_proxies(results, work, running, origin, blocked_host, size, seconds,
                            origin_server if size == LIST_SIZES[0] else None)
            results["rss_kb"][str(size)] = {name: rss_kb(server.pids())
                                            for name, server in running.items()}
            for name, server in running.items():
                if server.process.poll() is not None:
                    raise Failure("%s ended during the load:\n%s" % (name, server.tail()))
                server.stop()
    except (Failure, OSError, subprocess.SubprocessError) as e:
        log("FAILED: %s" % e)
        results["failure"] = str(e) or type(e).__name__
    finally:
        for server in reversed(list(Server.started)):
            server.stop()
        signal.signal(signal.SIGTERM, previous_handler)
        shutil.rmtree(root, ignore_errors=True)
    results["elapsed"] = now() - began
    log("took %.0f s" % results["elapsed"])
    return results


def measure_proxies(results, work, running, origin, blocked_host, size, seconds, direct):
    """Every run of one block list; `direct`: the origin, when direct requests take their
    turns too."""
    turn = 0
    for kind, _, path, _ in KINDS:
        host = blocked_host if kind == "blocked" else origin
        for mode, _ in MODES:
            for connections in CONNECTIONS:
                row = results["runs"].setdefault(key(kind, connections, mode, size), {})
                targets = [(name, server, "http://%s%s" % (host, path), row)
                           for name, server in running.items()]
                if direct is not None and kind != "blocked":
                    targets.append(("direct", direct, path, results["runs"].setdefault(
                        key(kind, connections, mode, "direct"), {})))
                # Each row starts with the next one: whatever else the machine does at a given
                # moment falls on none of them in particular.
                for name, server, target, figures in targets[turn % len(targets):] + targets[
                        :turn % len(targets)]:
                    figures[name] = wrk(work, server.port, target, host, connections,
                                        mode == "closed", seconds)
                    settle(server)
                turn += 1


def measure_tunnels(results, origin_port, running):
    """Best of two for each, direct and the proxies taking turns."""
    rates = {}
    for _ in range(2):
        for name in ["direct"] + list(running):
            try:
                rate = transfer_rate(origin_port, None if name == "direct" else
                                     running[name].port, TUNNEL_SECONDS)
            except (OSError, Failure, AttributeError) as e:
                results["errors"]["tunnel " + name] = str(e) or type(e).__name__
                continue
            rates[name] = max(rates.get(name, 0.0), rate)
    results["tunnel"] = rates


# ---------------------------------------------------------------------------------------------
# The table's rows


def milliseconds(seconds):
    return "%.2f" % (seconds * 1e3) if seconds < 0.01 else "%.1f" % (seconds * 1e3)


def figures_text(figures, kind):
    text = "%s/s, %s / %s ms" % ("{:,.0f}".format(figures["rps"]),
                                   milliseconds(figures["p50"]), milliseconds(figures["p99"]))
    problems = figures["errors"] + (figures["bad_status"] if kind != "blocked" else 0)
    if problems:
        text += " (%d failed)" % problems
    if figures.get("read_errors"):
        text += " (%d closed unannounced)" % figures["read_errors"]
    return text


def usable(figures, kind):
    return figures is not None and figures["errors"] == 0 and (
        kind == "blocked" or figures["bad_status"] == 0) and figures["requests"] > 0


def add_rows(table, results):
    """The comparison's rows in run.py's table: Figure, Goal, Zelto's figure, the peers', Met."""
    if not results:
        return
    if results.get("missing"):
        table.add("Proxy vs peers", "—", "not measured: %s missing (scripts/bench installs "
                  "them unless --no-proxy-peers)" % ", ".join(results["missing"]))
        return
    v = results.get("versions", {})
    table.add("Proxy vs peers: set-up", "—",
              "Zelto built %s; wrk %s, 1 thread, %d s a run; origin nginx %s" % (
                  results.get("built", "?"), v.get("wrk", "?"), results["seconds"],
                  v.get("nginx", "?")),
              "tinyproxy %s · privoxy %s · squid %s" % (
                  v.get("tinyproxy", "?"), v.get("privoxy", "?"), v.get("squid", "?")))
    runs = results["runs"]
    peers = [p for p in PEERS if p in results["servers"]]
    for size in LIST_SIZES:
        for kind, label, _, _ in KINDS:
            for mode, mode_label in MODES:
                for connections in CONNECTIONS:
                    row = runs.get(key(kind, connections, mode, size))
                    if not row:
                        continue
                    figure = "Proxy vs peers: %s, %d conn., %s, %s hosts" % (
                        label, connections, mode_label, "{:,}".format(size))
                    direct = runs.get(key(kind, connections, mode, "direct"), {}).get("direct")
                    add_comparison(table, figure, kind, row, peers, direct)
    for size in LIST_SIZES:
        row = runs.get(key("allowed-128", 1, "kept", size), {})
        direct = runs.get(key("allowed-128", 1, "kept", "direct"), {}).get("direct")
        if "zelto" in row and direct:
            added = row["zelto"]["p50"] - direct["p50"]
            others = " · ".join("%s %+.0f µs" % (p, (row[p]["p50"] - direct["p50"]) * 1e6)
                                for p in peers if p in row)
            table.add("Proxy vs peers: added median latency, allowed 128 B GET, 1 kept-alive "
                      "conn., %s hosts (direct %.0f µs)" % ("{:,}".format(size),
                                                            direct["p50"] * 1e6),
                      "≤ 50 µs", "%+.0f µs" % (added * 1e6), others,
                      added <= ADDED_LATENCY_GOAL)
    for size in LIST_SIZES:
        memory = results["rss_kb"].get(str(size))
        if memory and "zelto" in memory:
            goal = size == 50000
            table.add("Proxy vs peers: resident memory after the load, %s hosts (squid: its "
                      "processes)" % "{:,}".format(size), "≤ 24 MB" if goal else "—",
                      "%.1f MB" % (memory["zelto"] / 1024),
                      " · ".join("%s %.1f MB" % (p, memory[p] / 1024) for p in peers
                                 if p in memory),
                      memory["zelto"] <= RSS_GOAL_KB if goal else None)
    tunnel = results.get("tunnel", {})
    if "direct" in tunnel:
        direct = tunnel["direct"]
        zelto = tunnel.get("zelto")
        table.add("Proxy vs peers: CONNECT tunnel throughput (64 MiB downloads, one "
                  "connection)", "≥ 0.8 × direct",
                  "%.0f MB/s (%.2f ×)" % (zelto / 1e6, zelto / direct) if zelto else
                  "failed: %s" % results["errors"].get("tunnel zelto", "?"),
                  " · ".join(["direct %.0f MB/s" % (direct / 1e6)] + [
                      "%s %.0f MB/s (%.2f ×)" % (p, tunnel[p] / 1e6, tunnel[p] / direct)
                      for p in peers if p in tunnel]),
                  zelto is not None and zelto >= TUNNEL_GOAL * direct)
    if results.get("failure"):
        table.add("Proxy vs peers", "—",
                  "failed: %s" % results["failure"].splitlines()[0].replace("|", "/"))


def add_comparison(table, figure, kind, row, peers, direct):
    zelto = row.get("zelto")
    present = [p for p in peers if p in row]
    parts = ["%s %s" % (p, figures_text(row[p], kind)) for p in present]
    if direct:
        parts.append("direct %s" % figures_text(direct, kind))
    baseline = " · ".join(parts)
    good = [p for p in present if usable(row[p], kind)]
    if zelto is None or not good:
        table.add(figure, "—", figures_text(zelto, kind) if zelto else "not measured", baseline)
        return
    best_rps = max(row[p]["rps"] for p in good)
    best_p99 = min(row[p]["p99"] for p in good)
    rps_ok = zelto["rps"] >= best_rps and usable(zelto, kind)
    p99_ok = zelto["p99"] <= best_p99 and usable(zelto, kind)
    goal = "≥ %s/s, p99 ≤ %s ms" % ("{:,.0f}".format(best_rps), milliseconds(best_p99))
    missed = [what for what, met in (("req/s", rps_ok), ("p99", p99_ok)) if not met]
    table.add(figure, goal, figures_text(zelto, kind), baseline,
              "**no** (%s)" % ", ".join(missed) if missed else True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--seconds", type=int, default=2, help="seconds of each wrk run")
    parser.add_argument("--only", help="comma-separated servers among %s" % ",".join(SERVERS))
    parser.add_argument("--json", help="also write every figure to this file")
    args = parser.parse_args()
    servers = tuple(args.only.split(",")) if args.only else SERVERS
    for name in servers:
        if name not in SERVERS:
            parser.error("no server %s" % name)
    sys.dont_write_bytecode = True
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    from run import Table  # pylint: disable=import-outside-toplevel
    log("about %.0f s" % estimate(args.seconds, servers))
    results = run(os.path.abspath(args.build), args.seconds, None, servers)
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump(results, f, indent=1)
    table = Table()
    add_rows(table, results)
    print(table.text())
    return 1 if results.get("failure") else 0


if __name__ == "__main__":
    sys.exit(main())
