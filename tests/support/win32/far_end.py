#!/usr/bin/env python3
"""The far end of the Windows serial tests under Wine.

far_end.py DOSDEVICES FIRST COUNT PORT_FILE

Makes COUNT pseudo-terminals and links DOSDEVICES/com<FIRST>... to their
slaves (before the wineserver starts, which registers COM ports only then),
listens on 127.0.0.1 and writes its port number to PORT_FILE. A test
(support/win32/PtyPair.cpp) connects and sends "OPEN\\n"; it gets a free
port's name ("COM11\\n", the one freed last first), and then the socket
carries that line's bytes both ways, as the master of a pseudo-terminal
pair would. When the test closes the socket the line hangs up: the
pseudo-terminal goes, and a fresh one is linked under the same name for the
next test. Ends on SIGTERM or SIGINT.
"""
import os
import select
import signal
import socket
import sys
import termios
import tty


class Line:
    def __init__(self, link, name):
        self.link = link
        self.name = name
        self.client = None
        self.freed = 0
        self.fresh()

    def fresh(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        os.set_blocking(self.master, False)
        temp = self.link + ".new"
        if os.path.lexists(temp):
            os.unlink(temp)
        os.symlink(os.ttyname(self.slave), temp)
        os.replace(temp, self.link)

    def hang_up(self, when):
        # The helper's own slave descriptor goes too, so the program's end
        # sees the hang-up.
        os.close(self.master)
        os.close(self.slave)
        self.client.close()
        self.client = None
        self.freed = when
        self.fresh()

    def drain(self):
        termios.tcflush(self.slave, termios.TCIOFLUSH)
        try:
            while os.read(self.master, 4096):
                pass
        except BlockingIOError:
            pass


def receive(sock):
    # A reset (a socket closed with bytes unread) is a close like any other.
    try:
        return sock.recv(65536)
    except OSError:
        return b""


def main():
    dosdevices, first, count, port_file = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    lines = [Line(os.path.join(dosdevices, "com%d" % (first + i)), "COM%d" % (first + i))
             for i in range(count)]
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(16)
    with open(port_file + ".new", "w") as f:
        f.write("%d\n" % server.getsockname()[1])
    os.replace(port_file + ".new", port_file)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    waiting = []  # connected, no OPEN yet
    hang_ups = 0
    try:
        while True:
            watched = [server] + waiting
            for line in lines:
                if line.client is not None:
                    watched += [line.client, line.master]
            ready, _, _ = select.select(watched, [], [])
            for r in ready:
                if r is server:
                    client, _ = server.accept()
                    waiting.append(client)
                elif r in waiting:
                    waiting.remove(r)
                    request = receive(r)
                    # The line freed last first: a test that hangs up and
                    # opens again gets the same name, as a device plugged in
                    # again.
                    free = sorted((line for line in lines if line.client is None),
                                  key=lambda line: -line.freed)
                    if request.strip() != b"OPEN" or not free:
                        r.sendall(b"ERR no free line\n" if request.strip() == b"OPEN" else b"ERR ?\n")
                        r.close()
                        continue
                    line = free[0]
                    line.drain()
                    line.client = r
                    r.sendall(line.name.encode() + b"\n")
                else:
                    for line in lines:
                        if r is line.master and line.client is not None:
                            try:
                                data = os.read(line.master, 65536)
                            except (BlockingIOError, OSError):
                                data = b""
                            if data:
                                try:
                                    line.client.sendall(data)
                                except OSError:
                                    hang_ups += 1
                                    line.hang_up(hang_ups)
                        elif r is line.client:
                            data = receive(r)
                            if not data:
                                hang_ups += 1
                                line.hang_up(hang_ups)
                            else:
                                view = memoryview(data)
                                while view:
                                    try:
                                        view = view[os.write(line.master, view):]
                                    except BlockingIOError:
                                        select.select([], [line.master], [], 1)
    finally:
        for line in lines:
            if os.path.islink(line.link):
                os.unlink(line.link)


if __name__ == "__main__":
    main()
