#!/usr/bin/env python3
"""A server that lies about its answers, for the transport's tests, on 127.0.0.1.

  lying_server.py CERT KEY   listens on two ports chosen by the system, plain HTTP and TLS
                             (CERT, KEY for the name localhost), and prints
                             "plain PORT" and "tls PORT" once both listen.

By the request's path:
  /no-length     200, 1000 bytes, no Content-Length, not chunked, then closes
  /chunked-cut   200 chunked: one chunk of 1000 bytes, then closes without the final chunk
  /short         200 with Content-Length 5000, 1000 bytes, then closes
  /chunked-ok    200 chunked, two chunks of 1000 bytes and the final chunk (the control)
  /length-ok     200 with Content-Length 2000 and 2000 bytes (the control)
  /redirect      302 to /length-ok
  /slow          200 with Content-Length 100000, then 10 bytes every 200 ms
  /echo          (POST) 200 with the request's body and its Content-Type
As a proxy: it refuses a tunnel (CONNECT) to port 1 with 403, and wants a password (407
with Basic only) for a tunnel or a request to port 2. Runs until killed.
"""
import socket
import socketserver
import ssl
import sys
import threading
import time

BODY = bytes(range(256)) * 8  # 2048 bytes a pattern


def answer(target):
    path = target.split("?", 1)[0]
    if path == "/no-length":
        return b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + BODY[:1000], True
    if path == "/chunked-cut":
        return (b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                b"3e8\r\n" + BODY[:1000] + b"\r\n"), True
    if path == "/short":
        return b"HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + BODY[:1000], True
    if path == "/chunked-ok":
        return (b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                b"3e8\r\n" + BODY[:1000] + b"\r\n3e8\r\n" + BODY[1000:2000] + b"\r\n0\r\n\r\n"), False
    if path == "/length-ok":
        return b"HTTP/1.1 200 OK\r\nContent-Length: 2000\r\n\r\n" + BODY[:2000], False
    if path == "/redirect":
        return (b"HTTP/1.1 302 Found\r\nLocation: /length-ok\r\nContent-Length: 0\r\n\r\n"), False
    return b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", False


WANTS_PASSWORD = (b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                  b"Proxy-Authenticate: Basic realm=\"test\"\r\nContent-Length: 0\r\n"
                  b"Connection: close\r\n\r\n")
REFUSED = b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        while True:
            line = self.rfile.readline(8192).decode("latin-1")
            if not line:
                return
            headers = {}
            while True:
                header = self.rfile.readline(8192)
                if header in (b"\r\n", b"\n", b""):
                    break
                name, _, value = header.decode("latin-1").partition(":")
                headers[name.strip().lower()] = value.strip()
            parts = line.split()
            if len(parts) < 2:
                return
            method, target = parts[0], parts[1]
            if method == "CONNECT":
                port = target.rsplit(":", 1)[-1]
                self.wfile.write(WANTS_PASSWORD if port == "2" else REFUSED)
                return
            if target.startswith("http"):  # absolute form, as through a proxy
                if target.split("/", 3)[2].endswith(":2"):
                    self.wfile.write(WANTS_PASSWORD)
                    return
                target = "/" + target.split("/", 3)[-1]
            if target == "/slow":
                self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n")
                for _ in range(100):
                    self.wfile.write(BODY[:10])
                    self.wfile.flush()
                    time.sleep(0.2)
                return
            if target == "/echo":
                body = self.rfile.read(int(headers.get("content-length", "0")))
                kind = headers.get("content-type", "").encode("latin-1")
                self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Type: %s\r\nContent-Length: %d"
                                 b"\r\n\r\n" % (kind, len(body)) + body)
                continue
            data, close = answer(target)
            self.wfile.write(data)
            self.wfile.flush()
            if close:
                return


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


class TlsServer(Server):
    def __init__(self, address, handler, context):
        super().__init__(address, handler)
        self.context = context

    def get_request(self):
        sock, address = super().get_request()
        sock.settimeout(10)
        try:
            return self.context.wrap_socket(sock, server_side=True), address
        except (ssl.SSLError, OSError):
            sock.close()
            raise


def main():
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[1], sys.argv[2])
    plain = Server(("127.0.0.1", 0), Handler)
    tls = TlsServer(("127.0.0.1", 0), Handler, context)
    for server in (plain, tls):
        threading.Thread(target=server.serve_forever, daemon=True).start()
    print("plain", plain.server_address[1])
    print("tls", tls.server_address[1], flush=True)
    threading.Event().wait()


if __name__ == "__main__":
    main()
