"""A TLS-inspecting HTTP proxy on loopback, as a VPN, an anti-virus web shield
or a company proxy would be: it answers CONNECT itself and shows the client a
certificate of its own (the attacker's test leaf), whatever host was asked for.
Set as the prefix's user proxy for the duration of a `with` block."""
import socket
import ssl
import struct
import threading

import mockservice
import winerun

INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
CONNECTIONS = INTERNET_SETTINGS + r"\Connections"
PROXY_TYPE_DIRECT = 1
PROXY_TYPE_PROXY = 2


class InterceptingProxy:
    def __init__(self, leaf="attacker-leaf"):
        self.connects = []  # "host:port" of every CONNECT, in order
        self._context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self._context.load_cert_chain(mockservice.MockService.cert_path(leaf),
                                      mockservice.MockService.cert_path(leaf + ".key"))
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.bind(("127.0.0.1", 0))
        self._listener.listen(8)
        self._listener.settimeout(0.2)
        self.port = self._listener.getsockname()[1]
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._serve, daemon=True)

    def _serve(self):
        while not self._stop.is_set():
            try:
                client, _ = self._listener.accept()
            except OSError:
                continue
            threading.Thread(target=self._handle, args=(client,), daemon=True).start()

    def _handle(self, client):
        with client:
            client.settimeout(10)
            head = b""
            while b"\r\n\r\n" not in head and len(head) < 65536:
                chunk = client.recv(4096)
                if not chunk:
                    return
                head += chunk
            words = head.split(b"\r\n", 1)[0].split()
            if len(words) < 2 or words[0] != b"CONNECT":
                client.sendall(b"HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n")
                return
            self.connects.append(words[1].decode("ascii", "replace"))
            client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
            try:
                with self._context.wrap_socket(client, server_side=True) as tls:
                    request = b""
                    while b"\r\n\r\n" not in request:
                        chunk = tls.recv(4096)
                        if not chunk:
                            return
                        request += chunk
                    tls.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            except (ssl.SSLError, OSError):
                pass  # a client that gives up on the certificate

    def connection_settings(self):
        """The user's proxy as the system's settings page stores it: a manual
        proxy, no bypass list, no script."""
        proxy = f"127.0.0.1:{self.port}".encode("ascii")
        blob = struct.pack("<III", 0x46, 1, PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY)
        blob += struct.pack("<I", len(proxy)) + proxy + struct.pack("<I", 0) + struct.pack("<I", 0) + bytes(32)
        return blob.hex()

    def __enter__(self):
        self._thread.start()
        settings = [(INTERNET_SETTINGS, "ProxyEnable", "REG_DWORD", "1"),
                    (INTERNET_SETTINGS, "ProxyServer", "REG_SZ", f"127.0.0.1:{self.port}"),
                    (CONNECTIONS, "DefaultConnectionSettings", "REG_BINARY", self.connection_settings())]
        for key, name, kind, value in settings:
            code, out = winerun.wine_command(["reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f"])
            if code != 0:
                raise RuntimeError(f"cannot set the proxy ({name}): {out}")
        return self

    def __exit__(self, *exc):
        winerun.wine_command(["reg", "add", INTERNET_SETTINGS, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "0", "/f"])
        winerun.wine_command(["reg", "delete", INTERNET_SETTINGS, "/v", "ProxyServer", "/f"])
        winerun.wine_command(["reg", "delete", CONNECTIONS, "/v", "DefaultConnectionSettings", "/f"])
        self._stop.set()
        self._thread.join(5)
        self._listener.close()
