#!/usr/bin/env python3
"""velmora-server under slow, idle and hostile clients: prints figures, never
fails on them. Runs a velmora-server program as a child process, attackers
connect from 127.0.0.2, the measured client from 127.0.0.1. Each scenario is
bounded in connections, requests and time; an answer that does not come
within 10 s counts as missing. See bench/attack.sh."""

import argparse
import asyncio
import base64
import hashlib
import os
import random
import re
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

ATTACKER = "127.0.0.2"
CLIENT = "127.0.0.1"
ANSWER_TIMEOUT = 10.0
RIGHT = base64.b64encode(b"operator:pa55word").decode()
WRONG = base64.b64encode(b"operator:wrong").decode()


def progress(text):
    print(f"attack: {text}", file=sys.stderr, flush=True)


class Server:
    """The program on any free port; its start line names the port."""

    def __init__(self, binary, args):
        self.process = subprocess.Popen([binary, "--port", "0", "--quiet"] + args,
                                        stderr=subprocess.PIPE, text=True)
        self.port = None
        deadline = time.monotonic() + 20
        while self.port is None and time.monotonic() < deadline:
            line = self.process.stderr.readline()
            if not line:
                break
            match = re.search(r"serving https?://[^:]+:(\d+)/", line)
            if match:
                self.port = int(match.group(1))
        if self.port is None:
            raise RuntimeError(f"{binary} did not start")
        threading.Thread(target=self.process.stderr.read, daemon=True).start()

    def rss_mb(self):
        with open(f"/proc/{self.process.pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024.0
        return 0.0

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def client_context(contexts=[]):
    # Made once: loading the system's CA list takes longer than a request.
    if not contexts:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        contexts.append(context)
    return contexts[0]


def request(port, tls, method="GET", path="/Velmora.asp?EmployeeID=1", headers="", body=b"", source=CLIENT):
    """(milliseconds, status) of one request from source; status 0: no answer."""
    start = time.perf_counter()
    try:
        sock = socket.create_connection((CLIENT, port), ANSWER_TIMEOUT, source_address=(source, 0))
        if tls:
            sock = client_context().wrap_socket(sock, server_hostname="127.0.0.1")
        sock.settimeout(ANSWER_TIMEOUT)
        head = f"{method} {path} HTTP/1.1\r\nHost: 127.0.0.1\r\n{headers}"
        if body:
            head += f"Content-Type: application/x-www-form-urlencoded\r\nContent-Length: {len(body)}\r\n"
        sock.sendall(head.encode() + b"\r\n" + body)
        data = b""
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                break
            data += chunk
            end = data.find(b"\r\n\r\n")
            length = re.search(rb"Content-Length: (\d+)", data)
            if end > 0 and length and len(data) >= end + 4 + int(length.group(1)):
                break
        sock.close()
        status = int(data[9:12]) if data.startswith(b"HTTP/1.1 ") else 0
    except (OSError, ValueError):
        status = 0
    return (time.perf_counter() - start) * 1000.0, status


def p95(values):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(0.95 * len(ordered)))] if ordered else float("nan")


def measure(port, tls, count, headers="", spacing=0.1, server=None):
    """p95 in ms over count requests, their answers, peak RSS in MB; stops
    after three requests without an answer."""
    times, answered, missing, peak = [], 0, 0, 0.0
    for _ in range(count):
        ms, status = request(port, tls, headers=headers)
        if status == 200:
            times.append(ms)
            answered += 1
        else:
            missing += 1
            times.append(max(ms, ANSWER_TIMEOUT * 1000))
            if missing >= 3:
                break
        if server:
            peak = max(peak, server.rss_mb())
        time.sleep(spacing)
    return p95(times), answered, len(times), peak


class FirstBytes(asyncio.Protocol):
    """Sets answer to (the first bytes received, when) as they arrive, even
    if the connection is reset right after; to (b"", None) if it ends
    without any."""

    def __init__(self, answer):
        self.answer = answer

    def data_received(self, data):
        if not self.answer.done():
            self.answer.set_result((data, time.monotonic()))

    def connection_lost(self, exc):
        if not self.answer.done():
            self.answer.set_result((b"", None))


class Attack:
    """Attacking connections on an event loop of their own."""

    def __init__(self):
        self.loop = asyncio.new_event_loop()
        self.stopping = asyncio.Event()
        self.thread = threading.Thread(target=self.loop.run_forever, daemon=True)
        self.thread.start()
        self.opened = 0

    def run(self, coroutine, timeout=None):
        return asyncio.run_coroutine_threadsafe(coroutine, self.loop).result(timeout)

    def start(self, coroutine):
        return asyncio.run_coroutine_threadsafe(coroutine, self.loop)

    async def _hold(self, port, sent, drip, tls):
        try:
            reader, writer = await asyncio.wait_for(asyncio.open_connection(
                CLIENT, port, local_addr=(ATTACKER, 0), ssl=client_context() if tls else None,
                server_hostname="127.0.0.1" if tls else None), ANSWER_TIMEOUT)
        except (OSError, asyncio.TimeoutError):
            return
        self.opened += 1
        try:
            writer.write(sent)
            for byte in drip:
                writer.write(bytes([byte]))
                try:
                    await asyncio.wait_for(self.stopping.wait(), 5.0)
                    break
                except asyncio.TimeoutError:
                    pass
            await self.stopping.wait()
        except OSError:
            pass
        finally:
            writer.close()

    async def hold(self, port, count, sent=b"", drip=b"", tls=False):
        """count connections from ATTACKER, opened 50 at a time, each
        sending sent, then drip a byte every 5 s, held until stop()."""
        tasks = []
        for i in range(count):
            tasks.append(asyncio.ensure_future(self._hold(port, sent, drip, tls)))
            if i % 50 == 49:
                await asyncio.sleep(0.05)
        self.tasks = getattr(self, "tasks", []) + tasks

    async def flood(self, port, rate, seconds, headers):
        """rate requests a second from ATTACKER for seconds, each on a
        connection of its own, answers read and dropped."""
        async def one():
            try:
                reader, writer = await asyncio.wait_for(
                    asyncio.open_connection(CLIENT, port, local_addr=(ATTACKER, 0)), ANSWER_TIMEOUT)
                writer.write(f"GET /Velmora.asp?EmployeeID=1 HTTP/1.1\r\nHost: x\r\n{headers}\r\n".encode())
                await asyncio.wait_for(reader.read(4096), ANSWER_TIMEOUT)
                writer.close()
            except (OSError, asyncio.TimeoutError):
                pass
        tasks = []
        start = time.monotonic()
        for i in range(int(rate * seconds)):
            delay = start + i / rate - time.monotonic()
            if delay > 0:
                await asyncio.sleep(delay)
            if self.stopping.is_set():
                break
            tasks.append(asyncio.ensure_future(one()))
        await asyncio.gather(*tasks)

    async def endless(self, port, prefix, limit, seconds, source, results):
        """For seconds: connect from source, send prefix, then bytes that
        never end the element it began, until the server answers (at most
        ENDLESS_CAP bytes); append (status, seconds from passing the limit,
        limit bytes after prefix, to the answer) to results; 0.1 s later,
        again. No connection starts in the last 1.5 s, so that each has time
        for its answer."""
        deadline = time.monotonic() + seconds
        block = b"a" * 4096
        while time.monotonic() < deadline - 1.5 and not self.stopping.is_set():
            answer = self.loop.create_future()
            try:
                transport, protocol = await asyncio.wait_for(self.loop.create_connection(
                    lambda: FirstBytes(answer), CLIENT, port, local_addr=(source, 0)), ANSWER_TIMEOUT)
            except (OSError, asyncio.TimeoutError):
                await asyncio.sleep(0.1)
                continue
            sent, passed = 0, None
            transport.write(prefix)
            while not answer.done() and sent < ENDLESS_CAP and time.monotonic() < deadline:
                if passed is None and sent + len(block) > limit:
                    passed = time.monotonic()
                transport.write(block)
                sent += len(block)
                # The server reads on, so the kernel's buffers bound the
                # bytes in flight; a moment for the answer after each block.
                await asyncio.wait([answer], timeout=0.001)
            try:
                await asyncio.wait_for(asyncio.shield(answer), max(0.01, deadline - time.monotonic()))
            except asyncio.TimeoutError:
                pass
            transport.abort()
            data, answered = answer.result() if answer.done() else (b"", None)
            status = int(data[9:12]) if data.startswith(b"HTTP/1.1 ") else 0
            results.append((status, max(0.0, answered - (passed or answered)) if status else float("inf")))
            await asyncio.sleep(0.1)

    def stop(self):
        self.loop.call_soon_threadsafe(self.stopping.set)
        if getattr(self, "tasks", None):
            self.run(asyncio.wait(self.tasks, timeout=15), timeout=30)
        self.loop.call_soon_threadsafe(self.loop.stop)
        self.thread.join(10)


def prepare(binary, directory):
    database = os.path.join(directory, "centers.sqlite")
    subprocess.run([binary, "--db", database, "--seed", "sample", "--seed-only"], check=True,
                   stderr=subprocess.DEVNULL)
    users = os.path.join(directory, "users")
    if not os.path.exists(users):
        subprocess.run([binary, "--credentials", users, "--add-user", "operator"], input=b"pa55word\n",
                       check=True, stderr=subprocess.DEVNULL)
    cert, key = os.path.join(directory, "cert.pem"), os.path.join(directory, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                    "-keyout", key, "-out", cert, "-subj", "/CN=127.0.0.1", "-days", "2"], check=True,
                   stderr=subprocess.DEVNULL)
    return database, users, ["--tls-cert", cert, "--tls-key", key]


def slow_clients(binary, database, tls_args, extra, tls, quick):
    idle, dripping, stalled = (100, 100, 20) if quick else (1000, 1000, 200)
    server = Server(binary, ["--db", database] + (tls_args if tls else []) + extra)
    attack = Attack()
    try:
        attack.run(attack.hold(server.port, idle))
        # A header never finished: one byte every 5 s.
        attack.run(attack.hold(server.port, dripping, drip=b"GET /Velmora.asp?EmployeeID=1 HTTP/1.1\r\nX-Slow: " * 4,
                               tls=tls))
        if tls:
            # A TLS record header announcing a ClientHello that never comes.
            attack.run(attack.hold(server.port, stalled, sent=b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc"))
        time.sleep(3)
        held = attack.opened
        result = measure(server.port, tls, 20 if quick else 100, server=server)
        return result + (held,)
    finally:
        attack.stop()
        server.stop()


def guessing(binary, database, users, extra, quick):
    server = Server(binary, ["--db", database, "--credentials", users] + extra)
    attack = Attack()
    try:
        seconds = 10 if quick else 30
        flood = attack.start(attack.flood(server.port, 200, seconds, f"Authorization: Basic {WRONG}\r\n"))
        time.sleep(2)
        first, status = request(server.port, False, headers=f"Authorization: Basic {RIGHT}\r\n")
        result = measure(server.port, False, 20 if quick else 100, headers=f"Authorization: Basic {RIGHT}\r\n",
                         server=server)
        return (first if status == 200 else float("nan"),) + result
    finally:
        attack.loop.call_soon_threadsafe(attack.stopping.set)
        try:
            flood.result(60)
        except Exception:
            pass
        attack.stop()
        server.stop()


# What each endless attacker sends: the request before the element that
# never ends, the element's first bytes, and the server's limit on it.
CHUNKED = (b"POST /Velmora.asp HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
           b"Transfer-Encoding: chunked\r\n\r\n")
ENDLESS = {
    "chunk line": (CHUNKED, b"1;x=", 4096),
    "trailer": (CHUNKED, b"0\r\nX-Trailer: ", 16384),
    "header": (b"", b"GET /Velmora.asp?EmployeeID=1 HTTP/1.1\r\nX-Padding: ", 16384),
}
ENDLESS_CAP = 4 << 20  # bytes one connection sends at most, so that an unbounded server holds 400 MB at most


def endless(binary, database, extra, what, quick):
    """100 attackers from 127.0.0.2 to 127.0.0.11, each sending the element
    what without end, reconnecting 0.1 s after an answer, while a fresh
    client GETs the document. Returns the GETs' p95, their answers, peak
    RSS, and the attackers' results."""
    before, start, limit = ENDLESS[what]
    count, seconds = (20, 3) if quick else (100, 10)
    server = Server(binary, ["--db", database] + extra)
    attack = Attack()
    results = []
    try:
        tasks = [attack.start(attack.endless(server.port, before + start, limit - len(start), seconds, f"127.0.0.{2 + i % 10}", results))
                 for i in range(count)]
        time.sleep(0.5)
        ms, answered, asked, peak = measure(server.port, False, int((seconds - 1) / 0.1), server=server)
        for task in tasks:
            task.result(seconds + 2 * ANSWER_TIMEOUT)
        return ms, answered, asked, max(peak, server.rss_mb()), results
    finally:
        attack.stop()
        server.stop()


def small_commits(binary, database, seconds):
    """Commits a second from 8 clients, one statement each, alternately
    adding and removing a center of an employee of its own. Each client
    connects from an address of its own, new for every call: thousands of
    connections a second would otherwise run out of local ports, which
    closed connections hold for a minute."""
    network = random.randrange(1, 250)
    server = Server(binary, ["--db", database])
    try:
        _, status = request(server.port, False)
        ok = [0] * 8
        deadline = time.monotonic() + seconds

        def client(t):
            employee, center = 101 + t, 1004
            bodies = [f"SQL=INSERT+INTO+CenterEmployeeCrossReference+%28EmployeeID%2CCenterID%2CRecordLastUpdated"
                      f"%29+VALUES+%28{employee}%2C{center}%2CGETDATE%28%29+%29+".encode(),
                      f"SQL=DELETE+FROM+CenterEmployeeCrossReference+WHERE+EmployeeID%3D{employee}+AND+CenterID"
                      f"+IN%28{center}%29".encode()]
            i = 0
            while time.monotonic() < deadline and i < 200000:
                _, status = request(server.port, False, "POST", "/Velmora.asp", body=bodies[i % 2],
                                    source=f"127.{network}.0.{t + 1}")
                ok[t] += status == 200
                i += 1

        start = time.monotonic()
        threads = [threading.Thread(target=client, args=(t,)) for t in range(8)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        return sum(ok) / (time.monotonic() - start)
    finally:
        server.stop()


def insert_body(employee, center):
    return (f"SQL=INSERT+INTO+CenterEmployeeCrossReference+%28EmployeeID%2CCenterID%2CRecordLastUpdated"
            f"%29+VALUES+%28{employee}%2C{center}%2CGETDATE%28%29+%29+").encode()


def stalled_lock(binary, pg, extra):
    """A session holds the row lock of center 1004 (psql, BEGIN ... FOR
    UPDATE, then idle); 64 commits that insert it, each from an address of
    its own, wait on it. Meanwhile 60 GETs of another employee, 0.05 s
    apart. Returns the GETs' p95, answered, asked, and the commits' slowest
    answer in s with their statuses."""
    schema = f"bench_lock_{os.getpid()}"
    address = pg + ("&" if "?" in pg else "?") + f"schema={schema}"
    subprocess.run([binary, "--db", address, "--seed", "sample", "--seed-only"], check=True, stderr=subprocess.DEVNULL)
    holder = subprocess.Popen(["psql", pg, "-q", "-c", f'BEGIN; SET LOCAL search_path TO "{schema}"; '
                               'SELECT 1 FROM "Center" WHERE "ID" = 1004 FOR UPDATE; SELECT pg_sleep(60); COMMIT'],
                              env=dict(os.environ, PGAPPNAME=schema), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    server = Server(binary, ["--db", address] + extra)
    try:
        time.sleep(1)
        commits = [None] * 64

        def commit(i):
            commits[i] = request(server.port, False, "POST", "/Velmora.asp", body=insert_body(200 + i, 1004),
                                 source=f"127.77.0.{i + 1}")

        threads = [threading.Thread(target=commit, args=(i,)) for i in range(64)]
        for thread in threads:
            thread.start()
        time.sleep(0.2)
        result = measure(server.port, False, 60, spacing=0.05)
        for thread in threads:
            thread.join()
        statuses = {}
        for _, status in commits:
            statuses[status] = statuses.get(status, 0) + 1
        return result[:3] + (max(ms for ms, _ in commits) / 1000.0, statuses)
    finally:
        server.stop()
        subprocess.run(["psql", pg, "-q", "-c", f"SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                        f"WHERE application_name = '{schema}'"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        holder.wait()
        subprocess.run(["psql", pg, "-q", "-c", f'DROP SCHEMA IF EXISTS "{schema}" CASCADE'],
                       stderr=subprocess.DEVNULL, stdout=subprocess.DEVNULL)


def credentials_line(name, password, iterations=1000):
    """A line of a credentials file, made as --add-user makes it, with few
    iterations so that 10,000 failures cost seconds, not minutes."""
    salt = os.urandom(16)
    key = hashlib.pbkdf2_hmac("sha256", password, salt, iterations, 32)
    return f"{name}:pbkdf2-sha256:{iterations}:{base64.b64encode(salt).decode()}:{base64.b64encode(key).decode()}\n"


def guard(binary, database, directory, extra, quick):
    """With --login-failures 5 --auth-cache 0: an insider from 127.0.0.3
    signs in as operator between guesses of bob's password; the guesses
    until the first 429 (at most 40). Then 127.0.0.4 fails 5 times, 10,000
    other addresses (1,000 with --quick) fail once each, and whether
    127.0.0.4 is still refused."""
    users = os.path.join(directory, "guard-users")
    with open(users, "w") as out:
        out.write(credentials_line("operator", b"pa55word") + credentials_line("bob", b"s3cret"))
    server = Server(binary, ["--db", database, "--credentials", users, "--login-failures", "5", "--auth-cache", "0",
                             "--login-backoff", "600"] + extra)
    wrong_bob = "Authorization: Basic " + base64.b64encode(b"bob:guess").decode() + "\r\n"
    right = f"Authorization: Basic {RIGHT}\r\n"
    wrong = f"Authorization: Basic {WRONG}\r\n"
    try:
        guesses = None
        for guess in range(1, 41):
            request(server.port, False, headers=right, source="127.0.0.3")
            if request(server.port, False, headers=wrong_bob, source="127.0.0.3")[1] == 429:
                guesses = guess - 1
                break
        for _ in range(5):
            request(server.port, False, headers=wrong, source="127.0.0.4")
        others = 1000 if quick else 10000

        def spray(first):
            for i in range(first, others, 16):
                request(server.port, False, headers=wrong, source=f"127.1.{i // 250}.{i % 250 + 1}")

        threads = [threading.Thread(target=spray, args=(t,)) for t in range(16)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        return guesses, others, request(server.port, False, headers=right, source="127.0.0.4")[1]
    finally:
        server.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("binary", help="the velmora-server program")
    parser.add_argument("--label", default="")
    parser.add_argument("--quick", action="store_true", help="a tenth of the connections, shorter runs")
    parser.add_argument("--pg", default=os.environ.get("VELMORA_BENCH_PG", ""), help="a postgresql:// URL")
    parser.add_argument("--extra", default="", help="options given to the server in every scenario")
    parser.add_argument("--parts", default="slow,tls,guess,endless,lock,insider,commits")
    args = parser.parse_args()
    parts = args.parts.split(",")
    extra = args.extra.split()
    label = args.label or args.binary
    with tempfile.TemporaryDirectory() as directory:
        database, users, tls_args = prepare(args.binary, directory)
        rows = []
        for tls in (False, True):
            if ("tls" if tls else "slow") not in parts:
                continue
            progress(f"{label}: slow clients, {'HTTPS' if tls else 'HTTP'}")
            ms, answered, asked, peak, held = slow_clients(args.binary, database, tls_args, extra, tls, args.quick)
            what = "idle + dripping + stalled handshakes, HTTPS" if tls else "idle + dripping, HTTP"
            rows.append(f"| {label} | {what}: fresh GET p95 | {ms:.1f} ms ({answered}/{asked} answered, "
                        f"{held} attackers held) |")
            rows.append(f"| {label} | {what}: peak resident memory | {peak:.1f} MB |")
        if "guess" in parts:
            progress(f"{label}: password guessing")
            first, ms, answered, asked, peak = guessing(args.binary, database, users, extra, args.quick)
            rows.append(f"| {label} | 200 wrong passwords/s: right password, first request | {first:.1f} ms |")
            rows.append(f"| {label} | 200 wrong passwords/s: right password after the first, p95 | {ms:.1f} ms "
                        f"({answered}/{asked} answered) |")
        if "endless" in parts:
            for what in ENDLESS:
                progress(f"{label}: endless {what}")
                ms, answered, asked, peak, results = endless(args.binary, database, extra, what, args.quick)
                refused = [late for status, late in results if status in (400, 431)]
                within = sum(late <= 1.0 for late in refused)
                slowest = f"slowest {max(refused) * 1000:.1f} ms" if refused else "none answered"
                name = f"{20 if args.quick else 100} endless {what}s"
                rows.append(f"| {label} | {name}: peak resident memory | {peak:.1f} MB |")
                rows.append(f"| {label} | {name}: answered 400/431 within 1 s of the limit | {within} of "
                            f"{len(results)} connections ({slowest}) |")
                rows.append(f"| {label} | {name}: fresh GET p95 | {ms:.1f} ms ({answered}/{asked} answered) |")
        if "lock" in parts and args.pg:
            progress(f"{label}: commits waiting on a row lock (PostgreSQL)")
            ms, answered, asked, slowest, statuses = stalled_lock(args.binary, args.pg, extra)
            rows.append(f"| {label} | row lock held, 64 commits waiting: GET of another employee p95 | {ms:.1f} ms "
                        f"({answered}/{asked} answered) |")
            rows.append(f"| {label} | row lock held, 64 commits waiting: slowest commit answer | {slowest:.1f} s "
                        f"(statuses {statuses}; 0: none within {ANSWER_TIMEOUT:.0f} s) |")
        if "insider" in parts:
            progress(f"{label}: an insider guessing, and a back-off under many addresses")
            guesses, others, status = guard(args.binary, database, directory, extra, args.quick)
            rows.append(f"| {label} | insider with one right password: wrong guesses of another user before 429 | "
                        f"{'no 429 in 40' if guesses is None else guesses} |")
            rows.append(f"| {label} | backed-off address after {others:,} others failed once: right password | "
                        f"{status} |")
        if "commits" in parts:
            seconds = 3 if args.quick else 10
            backends = [("SQLite", database)]
            if args.pg:
                schema = f"bench_attack_{os.getpid()}"
                backends.append(("PostgreSQL", args.pg + ("&" if "?" in args.pg else "?") + f"schema={schema}"))
            for name, address in backends:
                progress(f"{label}: small commits on {name}")
                rate = small_commits(args.binary, address, seconds)
                rows.append(f"| {label} | small commits, 8 clients, {name} | {rate:.0f} /s |")
            if args.pg:
                subprocess.run(["psql", args.pg, "-q", "-c", f'DROP SCHEMA IF EXISTS "{schema}" CASCADE'],
                               stderr=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        print("\n".join(rows), flush=True)


if __name__ == "__main__":
    main()
