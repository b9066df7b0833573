#!/usr/bin/env python3
"""HTTPS file server for the network catalogue tests.

Makes a certificate authority and a server certificate for 127.0.0.1 with the openssl
command line in --cert-dir (the authority is ca.pem there), serves --root on a free port of
127.0.0.1, prints "PORT <n>" once it listens, and appends the path of every request it gets
to --log, one line each, before it answers.

Some path prefixes misbehave on purpose:
  /nolength/<file>       the file without a Content-Length header, ended by closing the connection;
  /truncate/<file>       a Content-Length of the whole file but only its first half, then a close;
  /stall/<file>          a Content-Length of the whole file, its first half, then silence until the
                         client hangs up (HEAD answers as for /<file>);
  /endless/<anything>    zeros without a Content-Length and without end;
  /redirect/<path>       a redirect to https://<this server>/<path>;
  /redirect-http/<path>  a redirect to http://<this server>/<path> (plain http, which it does not speak);
  /lie/<path>            HEAD answers as for /<path>; GET redirects as /redirect/ does.
"""

import argparse
import http.server
import os
import ssl
import subprocess
import sys
import threading
import time


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certificates(cert_dir):
    ca_key = os.path.join(cert_dir, "ca.key")
    ca_pem = os.path.join(cert_dir, "ca.pem")
    key = os.path.join(cert_dir, "server.key")
    csr = os.path.join(cert_dir, "server.csr")
    pem = os.path.join(cert_dir, "server.pem")
    extensions = os.path.join(cert_dir, "server.ext")
    openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", ca_key, "-out", ca_pem,
            "-days", "2", "-subj", "/CN=OrviLoop Test CA")
    openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", csr, "-subj", "/CN=127.0.0.1")
    with open(extensions, "w") as f:
        f.write("subjectAltName=IP:127.0.0.1\n"
                "basicConstraints=CA:FALSE\n"
                "keyUsage=digitalSignature,keyEncipherment\n"
                "extendedKeyUsage=serverAuth\n")
    openssl("x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key, "-CAcreateserial", "-out", pem,
            "-days", "2", "-extfile", extensions)
    return pem, key


class Handler(http.server.SimpleHTTPRequestHandler):
    log_path = None
    log_lock = threading.Lock()

    def do_GET(self):
        with self.log_lock, open(self.log_path, "a", encoding="utf-8") as log:
            log.write(self.path + "\n")
        if self.path.startswith("/lie/"):
            self.redirect("https", self.path[len("/lie"):])
            return
        if not self.misbehave():
            super().do_GET()

    def do_HEAD(self):
        with self.log_lock, open(self.log_path, "a", encoding="utf-8") as log:
            log.write("HEAD " + self.path + "\n")
        for prefix in ("/lie/", "/stall/"):
            if self.path.startswith(prefix):
                self.path = self.path[len(prefix) - 1:]
        if not self.misbehave():
            super().do_HEAD()

    def misbehave(self):
        for prefix, scheme in (("/redirect/", "https"), ("/redirect-http/", "http")):
            if self.path.startswith(prefix):
                self.redirect(scheme, self.path[len(prefix) - 1:])
                return True
        if self.path.startswith("/endless/"):
            self.send_endless()
            return True
        for prefix, send in (("/nolength/", self.send_without_length), ("/truncate/", self.send_truncated),
                             ("/stall/", self.send_stalled)):
            if self.path.startswith(prefix):
                send(self.local_file(self.path[len(prefix) - 1:]))
                return True
        return False

    def redirect(self, scheme, path):
        self.send_response(302)
        self.send_header("Location", "%s://127.0.0.1:%d%s" % (scheme, self.server.server_address[1], path))
        self.send_header("Content-Length", "0")
        self.end_headers()

    def local_file(self, url_path):
        return self.translate_path(url_path)

    def send_without_length(self, path):
        with open(path, "rb") as f:
            body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.end_headers()
        self.wfile.write(body)
        self.close_connection = True

    def send_truncated(self, path):
        with open(path, "rb") as f:
            body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body[: len(body) // 2])
        self.wfile.flush()
        self.close_connection = True

    def send_stalled(self, path):
        self.send_truncated(path)
        # Silence, neither closing nor sending, until the client gives up.
        try:
            while self.connection.recv(1024):
                pass
        except OSError:
            pass

    def send_endless(self):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.end_headers()
        if self.command == "HEAD":
            return
        zeros = bytes(64 * 1024)
        try:
            while True:
                self.wfile.write(zeros)
        except OSError:
            self.close_connection = True

    def log_message(self, format, *args):
        pass


class TlsServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    context = None

    # The handshake runs in the connection's own thread, so a client that rejects the
    # certificate (or never speaks) cannot stall the listening loop.
    def finish_request(self, request, client_address):
        try:
            connection = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        super().finish_request(connection, client_address)

    def handle_error(self, request, client_address):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--cert-dir", required=True)
    parser.add_argument("--log", required=True)
    options = parser.parse_args()

    certificate, key = make_certificates(options.cert_dir)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(certificate, key)

    Handler.log_path = options.log
    open(options.log, "w").close()

    def handler(*args, **kwargs):
        return Handler(*args, directory=options.root, **kwargs)

    server = TlsServer(("127.0.0.1", 0), handler)
    server.context = context
    print("PORT", server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
