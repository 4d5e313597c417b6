"""The C++ socket host of examples/ on a real server: registered, joined, heard, answering,
back after the server died, and gone with a QUIT; also as the README runs it."""
import os
import re
import signal
import subprocess
import threading
import time

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.path.abspath(os.environ.get("TESSEL_BUILD_DIR") or os.path.join(ROOT, "build"))
PROGRAM = os.path.join(BUILD, "examples", "cpp_socket_host")


class Output:
    """What a process writes to one pipe, line by line, read as it comes so the pipe never fills."""

    def __init__(self, pipe):
        self.lines = []
        self.reader = threading.Thread(target=self._read, args=(pipe,), daemon=True)
        self.reader.start()

    def _read(self, pipe):
        for line in pipe:
            self.lines.append(line.rstrip("\n"))

    def has(self, text):
        return any(text in line for line in self.lines)

    def __str__(self):
        return "\n".join(self.lines[-40:])


class Running:
    """The program (or a command that runs it) in a session of its own, its output followed."""

    def __init__(self, argv, **kwargs):
        if not os.access(PROGRAM, os.X_OK):
            pytest.fail(f"{PROGRAM} is not built")
        self.process = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                        start_new_session=True, **kwargs)
        self.out, self.err = Output(self.process.stdout), Output(self.process.stderr)

    def wait(self, timeout):
        code = self.process.wait(timeout=timeout)
        for output in (self.out, self.err):
            output.reader.join(timeout=5)  # until the pipe's end, so the last lines are in
        return code

    def stop(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()


def eventually(condition, timeout, what):
    """Waits for what a process prints. Net.wait is for peers: with none connected it sleeps
    until the next reconnect, seconds at a time."""
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline, f"timed out waiting for {what}"
        time.sleep(0.05)


def said(peer, where, name, sender, text):
    place = peer.model()[where].get(name)
    return place is not None and any((m["sender"], m["text"]) == (sender, text) for m in place["log"]["messages"])


def members(peer, channel):
    return peer.model()["channels"].get(channel, {}).get("members", {})


def quit_line(peer, nick):
    """The QUIT the peer read from `nick`, past its tags, or None."""
    lines = (line.split(" ", 1)[1] if line.startswith("@") else line for line in peer.read)
    return next((line for line in lines if line.startswith(f":{nick}!") and " QUIT " in line), None)


def test_greets_answers_comes_back_after_a_crash_and_quits_on_sigterm(inspircd, net, unique):
    bot, channel = unique("cppbot"), unique("#cpp")
    watcher = net.peer("watcher", inspircd.port, nick=unique("ann"))
    net.connect(watcher)
    watcher.do("join", channel)
    watcher.wait_change("channel_joined", channel=channel)

    host = Running([PROGRAM, "127.0.0.1", str(inspircd.port), bot, channel])
    try:
        net.wait(lambda: said(watcher, "channels", channel, bot, "hello from C++"), 15, "the greeting")
        # The watcher may hear the greeting before this side's reader thread has read the line.
        eventually(lambda: host.out.has(f'{{"type":"registered","nick":"{bot}"}}'), 5, f"registered\n{host.out}")

        # Killed, the server refuses the first reconnect; the back-off brings the next one.
        inspircd.kill()
        eventually(lambda: host.err.has(f"cannot connect to 127.0.0.1:{inspircd.port}: Connection refused"), 10,
                   "a refused reconnect")
        inspircd.start()
        net.wait(lambda: watcher.connections == 2 and bot in members(watcher, channel), 15,
                 f"the bot back in the channel\n{host.out}")
        for advice in (2000, 4000, 0):
            eventually(lambda: host.out.has(f'{{"type":"reconnect_after","after_ms":{advice}}}'), 5,
                       f"reconnect_after {advice}\n{host.out}")

        watcher.do("send_message", bot, "!ping")
        net.wait(lambda: said(watcher, "conversations", bot, bot, "pong"), 10, "pong in private")

        host.process.send_signal(signal.SIGTERM)
        net.wait(lambda: quit_line(watcher, bot) is not None, 10, "the QUIT")
        assert quit_line(watcher, bot).endswith(":Quit: stopped")
        assert host.wait(timeout=10) == 0, f"{host.out}\n{host.err}"
    finally:
        host.stop()


def readme():
    with open(os.path.join(ROOT, "README.md")) as f:
        return f.read()


def test_readme_shows_the_reading_as_it_is():
    with open(os.path.join(ROOT, "examples", "cpp_socket_host.cpp")) as f:
        shown = f.read().split("// --8<-- the reading the README shows\n", 1)[1].split("// --8<--", 1)[0]
    assert "```cpp\n" + shown + "```" in readme()


def readme_command():
    blocks = re.findall(r"```sh\n(.*?)```", readme(), re.S)
    [command] = [line for block in blocks for line in block.splitlines() if "cpp_socket_host" in line]
    return command


def test_readme_command_runs_the_bot_until_asked_to_quit(inspircd, net):
    command = readme_command()
    assert "build/examples/cpp_socket_host" in command and " 6667 " in command, command
    shell = command.replace("build/examples/cpp_socket_host", PROGRAM).replace(" 6667 ", f" {inspircd.port} ")
    host = Running(["bash", "-c", shell], cwd=ROOT)
    try:
        bot, channel = command.split()[-2], command.split()[-1].strip("'\"")
        watcher = net.peer("watcher", inspircd.port, nick="ann")
        net.connect(watcher)
        watcher.do("join", channel)
        net.wait(lambda: bot in members(watcher, channel), 15, f"the bot in the channel\n{host.out}\n{host.err}")

        watcher.do("send_message", channel, "!ping")
        net.wait(lambda: said(watcher, "channels", channel, bot, "pong"), 10, "pong in the channel")
        watcher.do("send_message", channel, "!quit")
        net.wait(lambda: quit_line(watcher, bot) is not None, 10, "the QUIT")
        assert quit_line(watcher, bot).endswith(":Quit: asked by ann")
        assert host.wait(timeout=10) == 0, f"{host.out}\n{host.err}"  # once the server closed the link
    finally:
        host.stop()
