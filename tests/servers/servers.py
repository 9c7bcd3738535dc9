#!/usr/bin/env python3
"""Starts and stops the servers of the transport tests for one build tree.

  servers.py start DIR   make a fresh certificate, start the supervisor, wait
                         until every server listens (the CTest setup fixture)
  servers.py stop DIR    stop the supervisor and its servers (cleanup fixture)
  servers.py run DIR     the supervisor itself, started by "start"

The supervisor runs nginx (the file store), the fault server and tinyproxy
as its children, all on 127.0.0.1 and on ports free at start, so several
build trees can run their servers side by side. When everything listens it
writes DIR/servers.ini, which the tests read:

  nginx_https_port, nginx_http_port, fault_https_port, fault_http_port,
  proxy_port, store_dir (served as /store/), fault_log, access_log (nginx), cert

It stops its children on SIGTERM, when it has run for --lifetime seconds,
and they stop with it if it dies (parent-death signal). Python standard
library only.
"""
import argparse
import ctypes
import grp
import os
import pathlib
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

HERE = pathlib.Path(__file__).resolve().parent
PORT_ATTEMPTS = 5
START_TIMEOUT = 30


def die_with_parent():
    """Runs in a child before exec: SIGTERM it when the supervisor dies."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def find_program(name):
    for candidate in (shutil.which(name), f"/usr/sbin/{name}", f"/usr/bin/{name}"):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    raise SystemExit(f"servers: {name} is not installed (run scripts/bootstrap)")


def free_port():
    """A port nobody listens on now. Another process may take it before we
    bind it, so whoever uses it retries with a new one when its bind fails."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listens(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


def wait_for(condition, process, seconds):
    """True when condition() holds within seconds; False when the process
    ended or the time ran out."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        if process is not None and process.poll() is not None:
            return False
        time.sleep(0.05)
    return False


def read_settings(path):
    settings = {}
    for line in pathlib.Path(path).read_text(encoding="utf-8").splitlines():
        name, _, value = line.partition("=")
        settings[name] = value
    return settings


def make_certificate(d):
    """A fresh self-signed certificate for 127.0.0.1 in the build tree, never
    in the source tree."""
    subprocess.run([find_program("openssl"), "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                    "-keyout", str(d / "key.pem"), "-out", str(d / "cert.pem"), "-days", "30",
                    "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"],
                   check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


class Supervisor:
    def __init__(self, d, lifetime):
        self.dir = d
        self.lifetime = lifetime
        self.children = []
        self.stop = threading.Event()

    def spawn(self, command, log_name):
        with open(self.dir / "logs" / log_name, "ab") as log:
            process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                       preexec_fn=die_with_parent, close_fds=True)
        self.children.append(process)
        return process

    def end(self, process):
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        self.children.remove(process)

    def start_fault_server(self):
        ports_file = self.dir / "fault.ports"
        ports_file.unlink(missing_ok=True)
        process = self.spawn([sys.executable, str(HERE / "fault_server.py"), "--cert", str(self.dir / "cert.pem"),
                              "--key", str(self.dir / "key.pem"), "--log", str(self.dir / "fault-requests.log"),
                              "--ports-file", str(ports_file), "--lifetime", str(self.lifetime + 60)],
                             "fault-server.log")
        if not wait_for(ports_file.exists, process, 10):
            raise RuntimeError("the fault server did not start (see logs/fault-server.log)")
        return read_settings(ports_file)

    def start_nginx(self):
        template = (HERE / "nginx.conf.in").read_text(encoding="utf-8")
        user = ""
        if os.geteuid() == 0:
            # As root nginx would hand its workers to "nobody", who may not
            # read the build tree; keep them with the caller.
            user = f"user {pwd.getpwuid(os.getuid()).pw_name} {grp.getgrgid(os.getgid()).gr_name};"
        pid_file = self.dir / "nginx.pid"
        for _ in range(PORT_ATTEMPTS):
            https, http = free_port(), free_port()
            conf = self.dir / "nginx.conf"
            text = template
            for field, value in (("@DIR@", str(self.dir)), ("@STORE@", str(self.dir / "store")),
                                 ("@HTTPS_PORT@", str(https)), ("@HTTP_PORT@", str(http)), ("@USER@", user)):
                text = text.replace(field, value)
            conf.write_text(text, encoding="utf-8")
            pid_file.unlink(missing_ok=True)
            process = self.spawn([find_program("nginx"), "-p", str(self.dir), "-c", str(conf),
                                  "-e", str(self.dir / "logs" / "nginx-error.log")], "nginx.log")
            # nginx writes its pid file only after it has bound every port.
            if wait_for(lambda: pid_file.exists() and listens(https) and listens(http), process, 10):
                return {"nginx_https_port": https, "nginx_http_port": http}
            self.end(process)  # most likely a port was taken meanwhile: try others
        raise RuntimeError("nginx did not start (see logs/nginx-error.log)")

    def start_proxy(self):
        for _ in range(PORT_ATTEMPTS):
            port = free_port()
            conf = self.dir / "tinyproxy.conf"
            # Only 127.0.0.1 may be reached through it, whatever a test asks.
            (self.dir / "tinyproxy.filter").write_text("^127\\.0\\.0\\.1$\n", encoding="utf-8")
            conf.write_text("\n".join([
                f"Port {port}", "Listen 127.0.0.1", "Bind 127.0.0.1", "Allow 127.0.0.1",
                "Timeout 60", "MaxClients 50",
                f'LogFile "{self.dir / "logs" / "tinyproxy.log"}"', "LogLevel Info",
                f'Filter "{self.dir / "tinyproxy.filter"}"', "FilterType ere", "FilterDefaultDeny Yes", ""]),
                encoding="utf-8")
            process = self.spawn([find_program("tinyproxy"), "-d", "-c", str(conf)], "tinyproxy.out")
            if wait_for(lambda: listens(port), process, 5):
                time.sleep(0.1)  # a port taken meanwhile shows as tinyproxy ending
                if process.poll() is None:
                    return {"proxy_port": port}
            self.end(process)
        raise RuntimeError("tinyproxy did not start (see logs/tinyproxy.log)")

    def run(self):
        for number in (signal.SIGTERM, signal.SIGINT):
            signal.signal(number, lambda *_: self.stop.set())
        ini = self.dir / "servers.ini"
        try:
            settings = {}
            settings.update(self.start_fault_server())
            settings.update(self.start_nginx())
            settings.update(self.start_proxy())
            settings.update(store_dir=self.dir / "store", fault_log=self.dir / "fault-requests.log",
                            access_log=self.dir / "logs" / "nginx-access.log",
                            cert=self.dir / "cert.pem")
            temporary = ini.with_suffix(".tmp")
            temporary.write_text("".join(f"{k}={v}\n" for k, v in settings.items()), encoding="utf-8")
            os.replace(temporary, ini)
            print(f"servers: ready, see {ini}", flush=True)
            self.stop.wait(self.lifetime)
            return 0
        except RuntimeError as e:
            print(f"servers: {e}", flush=True)
            return 1
        finally:
            ini.unlink(missing_ok=True)
            for process in list(self.children):
                self.end(process)
            print("servers: stopped", flush=True)


def supervisor_pid(d):
    """The pid of this tree's running supervisor, or None."""
    try:
        pid = int((d / "servers.pid").read_text())
        command = pathlib.Path(f"/proc/{pid}/cmdline").read_bytes().split(b"\0")
    except (OSError, ValueError):
        return None
    # The pid may have been reused by an unrelated process since.
    if b"run" in command and str(d).encode() in command and any(a.endswith(b"servers.py") for a in command):
        return pid
    return None


def stop(d):
    pid = supervisor_pid(d)
    if pid is not None:
        os.kill(pid, signal.SIGTERM)
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline and supervisor_pid(d) == pid:
            time.sleep(0.1)
        if supervisor_pid(d) == pid:
            os.kill(pid, signal.SIGKILL)
    (d / "servers.pid").unlink(missing_ok=True)
    (d / "servers.ini").unlink(missing_ok=True)
    return 0


def start(d, lifetime):
    stop(d)  # servers left over from an interrupted run
    for sub in ("store", "logs", "tmp"):
        (d / sub).mkdir(parents=True, exist_ok=True)
    (d / "fault-requests.log").write_text("", encoding="utf-8")
    make_certificate(d)
    with open(d / "logs" / "supervisor.log", "wb") as log:
        process = subprocess.Popen([sys.executable, str(HERE / "servers.py"), "run", str(d),
                                    "--lifetime", str(lifetime)],
                                   stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                   start_new_session=True, close_fds=True)
    (d / "servers.pid").write_text(str(process.pid), encoding="utf-8")
    if wait_for((d / "servers.ini").exists, process, START_TIMEOUT):
        print((d / "servers.ini").read_text(encoding="utf-8"), end="")
        return 0
    print((d / "logs" / "supervisor.log").read_text(encoding="utf-8", errors="replace"), file=sys.stderr)
    stop(d)
    return 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("action", choices=["start", "stop", "run"])
    parser.add_argument("dir", type=pathlib.Path, help="the servers' folder in the build tree")
    parser.add_argument("--lifetime", type=float, default=3600, help="seconds until the servers stop by themselves")
    args = parser.parse_args()
    d = args.dir.resolve()
    if args.action == "start":
        return start(d, args.lifetime)
    if args.action == "stop":
        return stop(d)
    return Supervisor(d, args.lifetime).run()


if __name__ == "__main__":
    sys.exit(main())
