#!/usr/bin/python3
"""A stand-in release host for the update tests.

Serves the folder given as its argument on 127.0.0.1 at a port chosen by the system and
prints that port as its first line. Besides plain files it knows two prefixes:
  /redirect/<path>  answers 302 with an absolute Location of /<path>, as release hosts do;
  /stall/<path>     reads the request and then never answers, like a dead network.
"""
import http.server
import socketserver
import sys
import threading
import time


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.path.startswith("/redirect/"):
            self.send_response(302)
            host, port = self.server.server_address[:2]
            self.send_header("Location", "http://%s:%d/%s" % (host, port, self.path[len("/redirect/"):]))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if self.path.startswith("/stall/"):
            time.sleep(3600)
            return
        super().do_GET()


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def main():
    folder = sys.argv[1]
    server = Server(("127.0.0.1", 0), lambda *a, **k: Handler(*a, directory=folder, **k))
    print(server.server_address[1], flush=True)
    # Ends with its parent: the test closes the pipe on stdin when it is done.
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdin.read()


if __name__ == "__main__":
    main()
