"""A loopback TCP proxy that makes every connection pay a network's round trip.

    with rttproxy.RttProxy(upstream_port=mock.https_port, rtt_ms=50).running() as proxy:
        ...  # the player reaches the mock through port 443 as it always does
        for connection in proxy.connections():
            print(connection["host"], connection["tls"], connection["round_trips"])

The mock's latency setting delays answers, which is how a slow service
behaves, but a real network also charges for every exchange a connection
makes before its first answer: the TCP handshake and the TLS handshake's
flights. Here every chunk in each direction is passed on RTT/2 after it
arrived (in order, at full speed), and the client's bytes on a new
connection wait until one RTT after it connected before that: the SYN and
SYN-ACK a real client waits for before it may send anything. (A client
that sends at once, as they do, pays the whole extra RTT.)

It listens on 127.0.0.1 and ::1 (where *.miravell.localhost resolves) and
forwards to 127.0.0.1:upstream_port. On port 443 it holds the lock the mock
holds there (mockservice._hold_port), so other build trees on this machine
wait for it instead of colliding.

Per connection it counts what the road costs: the host named in the TLS
ClientHello (SNI), whether the connection began with a ClientHello at all,
and its round trips: one for the TCP handshake plus one per client flight
(bytes the client sends first, or after the server's last bytes reached
it; what the client sends before hearing back belongs to the same flight).

As a program it serves until interrupted:
    python3 testbed/demo/rttproxy.py --upstream-port N [--rtt-ms 50] [--port 443]
"""
import argparse
import asyncio
import contextlib
import os
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "support"))
import mockservice  # noqa: E402

LISTEN = ("127.0.0.1", "::1")
CHUNK = 65536
# A ClientHello fits in one record; past this much without one the
# connection is not TLS as far as the count goes.
HELLO_LIMIT = 16 * 1024 + 5


def parse_client_hello(data):
    """(is_hello, server_name) for the first bytes a client sent: is_hello is
    None while too few bytes have come to tell, server_name None when the
    hello names no host."""
    if len(data) < 1:
        return None, None
    if data[0] != 0x16:  # not a handshake record
        return False, None
    if len(data) < 6:
        return None, None
    if data[5] != 0x01:  # a handshake, but not a ClientHello
        return False, None
    length = struct.unpack(">H", data[3:5])[0]
    if len(data) < 5 + length:
        return (None, None) if len(data) < HELLO_LIMIT else (True, None)
    body = bytes(data[5:5 + length])
    try:
        pos = 4 + 2 + 32  # handshake header, client version, random
        pos += 1 + body[pos]  # session id
        pos += 2 + struct.unpack(">H", body[pos:pos + 2])[0]  # cipher suites
        pos += 1 + body[pos]  # compression methods
        if pos + 2 > len(body):
            return True, None
        end = min(len(body), pos + 2 + struct.unpack(">H", body[pos:pos + 2])[0])
        pos += 2
        while pos + 4 <= end:
            kind, size = struct.unpack(">HH", body[pos:pos + 4])
            pos += 4
            if kind == 0:  # server_name: a list of (type, name); type 0 is a host name
                item = pos + 2
                while item + 3 <= pos + size:
                    name_type, name_size = body[item], struct.unpack(">H", body[item + 1:item + 3])[0]
                    if name_type == 0:
                        return True, body[item + 3:item + 3 + name_size].decode("ascii", errors="replace").lower()
                    item += 3 + name_size
                return True, None
            pos += size
    except (IndexError, struct.error):
        pass
    return True, None


class RttProxy:
    def __init__(self, upstream_port, rtt_ms=0, port=443, listen=LISTEN, upstream_host="127.0.0.1"):
        self.upstream = (upstream_host, upstream_port)
        self.rtt_ms = rtt_ms
        self.port = port
        self.listen = listen
        self._records = []
        self._lock = threading.Lock()
        self._loop = None
        self._thread = None
        self._servers = []
        self._port_lock = None

    # --- life -------------------------------------------------------------

    def start(self):
        """Listens on every address; returns self once it does."""
        self._port_lock = mockservice._hold_port(self.port)
        self._loop = asyncio.new_event_loop()
        started = threading.Event()
        failure = []

        def run():
            asyncio.set_event_loop(self._loop)
            try:
                for host in self.listen:
                    self._servers.append(self._loop.run_until_complete(
                        asyncio.start_server(self._serve, host, self.port, reuse_address=True)))
            except OSError as error:
                failure.append(error)
                started.set()
                return
            if not self.port:  # a free port, the first address's (for tests: listen on one)
                self.port = self._servers[0].sockets[0].getsockname()[1]
            started.set()
            self._loop.run_forever()

        self._thread = threading.Thread(target=run, name="rttproxy", daemon=True)
        self._thread.start()
        started.wait()
        if failure:
            self.stop()
            raise failure[0]
        return self

    def stop(self):
        if self._thread is not None and self._thread.is_alive():
            async def close():
                for server in self._servers:
                    server.close()
                others = [task for task in asyncio.all_tasks() if task is not asyncio.current_task()]
                for task in others:
                    task.cancel()
                await asyncio.gather(*others, return_exceptions=True)
                self._loop.stop()
            asyncio.run_coroutine_threadsafe(close(), self._loop)
            self._thread.join(10)
        self._thread = None
        if self._port_lock is not None:
            os.close(self._port_lock)
            self._port_lock = None

    @contextlib.contextmanager
    def running(self):
        self.start()
        try:
            yield self
        finally:
            self.stop()

    # --- what it saw --------------------------------------------------------

    def set_rtt(self, ms):
        """The round trip of connections opened from now on."""
        self.rtt_ms = ms

    def reset(self):
        with self._lock:
            self._records = []

    def connections(self):
        """One dict per connection opened since the last reset, in order:
        opened (time.monotonic()), host (SNI or None), tls (began with a
        ClientHello), flights and round_trips (so far)."""
        with self._lock:
            return [dict(record, round_trips=record["flights"] + 1) for record in self._records]

    # --- one connection -----------------------------------------------------

    async def _serve(self, client_reader, client_writer):
        half_rtt = self.rtt_ms / 2000.0
        loop = asyncio.get_running_loop()
        # The client may send once its SYN has gone out and the SYN-ACK come back.
        handshaken = loop.time() + 2 * half_rtt
        record = {"opened": time.monotonic(), "host": None, "tls": None, "flights": 0}
        with self._lock:
            self._records.append(record)
        try:
            server_reader, server_writer = await asyncio.open_connection(*self.upstream)
        except OSError:
            client_writer.close()
            return
        # Whether the server's bytes reached the client since it last sent:
        # its next bytes then start a new flight. True so that the first do.
        heard = [True]
        hello = bytearray()

        def from_client(data):
            if data and heard[0]:
                heard[0] = False
                with self._lock:
                    record["flights"] += 1
            if data and record["tls"] is None:
                hello.extend(data)
                is_hello, host = parse_client_hello(hello)
                if is_hello is not None:
                    with self._lock:
                        record["tls"], record["host"] = is_hello, host
            elif not data and record["tls"] is None:
                with self._lock:
                    record["tls"] = False

        def to_client():
            heard[0] = True

        async def carry(reader, queue, not_before, seen):
            while True:
                data = await reader.read(CHUNK)
                seen(data)
                queue.put_nowait((max(loop.time(), not_before) + half_rtt, data))
                if not data:
                    return

        async def deliver(queue, writer, delivered):
            while True:
                due, data = await queue.get()
                wait = due - loop.time()
                if wait > 0:
                    await asyncio.sleep(wait)
                if not data:
                    if writer.can_write_eof():
                        writer.write_eof()
                    return
                writer.write(data)
                await writer.drain()
                delivered()

        upstream, downstream = asyncio.Queue(), asyncio.Queue()
        tasks = [asyncio.ensure_future(job) for job in (
            carry(client_reader, upstream, handshaken, from_client),
            deliver(upstream, server_writer, lambda: None),
            carry(server_reader, downstream, 0.0, lambda data: None),
            deliver(downstream, client_writer, to_client))]
        failed = True
        try:
            done, pending = await asyncio.wait(tasks, return_when=asyncio.FIRST_EXCEPTION)
            # A side that was reset ends the connection for both.
            failed = bool(pending) or any(task.exception() is not None for task in done)
        except asyncio.CancelledError:
            # The proxy is stopping. Ended here rather than cancelled: the
            # stream server reports a cancelled handler as an error.
            pass
        finally:
            for task in tasks:
                task.cancel()
            for writer in (client_writer, server_writer):
                if failed:
                    writer.transport.abort()
                else:
                    writer.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--upstream-port", type=int, required=True)
    parser.add_argument("--rtt-ms", type=float, default=50)
    parser.add_argument("--port", type=int, default=443)
    args = parser.parse_args()
    with RttProxy(args.upstream_port, args.rtt_ms, port=args.port).running() as proxy:
        print(f"forwarding {', '.join(LISTEN)} port {args.port} to 127.0.0.1:{args.upstream_port}, "
              f"round trip {args.rtt_ms} ms; Ctrl-C ends", flush=True)
        try:
            while True:
                time.sleep(1)
        except KeyboardInterrupt:
            pass
        for connection in proxy.connections():
            print(f"{connection['host'] or '-'}  tls {connection['tls']}  round trips {connection['round_trips']}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
