"""Catalogue sources that change or never end: a file truncated while it is
read, FIFOs, pipes, devices and /proc files, and documents that are not
element sets."""

import os
import subprocess
import sys
import threading

import pytest

from quorvane.propagators.analytical.sgp4 import _sources
from quorvane.propagators.analytical.sgp4.catalogue import read_catalogue

ISS = (
    "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
    "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537",
)
TEXT = ("\n".join(["ISS (ZARYA)", *ISS]) + "\n").encode()

# The reader's text of a path is taken; the file is then cut to nothing
# (as a download restarting or a log rotation would) and the text read.  A
# mapped file raised SIGBUS here, killing the interpreter.
TRUNCATE = """
import sys
from quorvane.propagators.analytical.sgp4 import _catalogue, _sources
path = sys.argv[1]
with _sources.source_bytes(path) as data:
    open(path, "wb").close()
    columns, skipped = _catalogue.read_tle(data)
print(len(columns["satno"]), len(skipped))
"""


def test_a_file_truncated_while_it_is_read_gives_what_it_held(tmp_path):
    path = tmp_path / "cat.tle"
    path.write_bytes(TEXT * 5000)  # many pages
    done = subprocess.run([sys.executable, "-c", TRUNCATE, str(path)], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["5000", "0"]


def test_a_path_is_read_into_memory(tmp_path):
    path = tmp_path / "cat.tle"
    path.write_bytes(TEXT)
    with _sources.source_bytes(path) as data:
        assert isinstance(data, (bytes, bytearray)) and bytes(data) == TEXT


def test_a_fifo_with_a_writer_is_read_to_its_end(tmp_path):
    path = tmp_path / "cat.fifo"
    os.mkfifo(path)
    # A reader held open lets the writer's open return at once; the reader
    # under test opens once the writer is there, as a consumer of a
    # producer's FIFO does.
    held = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
    opened = threading.Event()

    def write():
        with open(path, "wb") as fifo:
            opened.set()
            fifo.write(TEXT * 3000)  # more than a pipe holds at once

    thread = threading.Thread(target=write)
    thread.start()
    try:
        opened.wait()
        table = read_catalogue(path)
    finally:
        thread.join()
        os.close(held)
    assert len(table) == 3000 and table.name[0] == "ISS (ZARYA)"


def test_a_fifo_without_a_writer_is_refused_not_waited_for(tmp_path):
    # Run in a child so that a hang fails the test instead of the suite.
    path = tmp_path / "lonely.fifo"
    os.mkfifo(path)
    code = (
        "import sys\nfrom quorvane.propagators.analytical.sgp4.catalogue import read_catalogue\n"
        "try:\n    read_catalogue(sys.argv[1])\nexcept ValueError as error:\n    print(error)\n"
    )
    done = subprocess.run([sys.executable, "-c", code, str(path)], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert "is a FIFO or pipe that no writer holds open and that holds no data" in done.stdout


def test_a_pipe_by_its_dev_fd_path_is_read():
    read_end, write_end = os.pipe()
    try:
        os.write(write_end, TEXT)
        os.close(write_end)
        write_end = -1
        table = read_catalogue(f"/dev/fd/{read_end}")
    finally:
        os.close(read_end)
        if write_end >= 0:
            os.close(write_end)
    assert len(table) == 1 and table.satno[0] == 25544


def test_an_endless_stream_is_refused_at_the_stated_limit(monkeypatch):
    monkeypatch.setattr(_sources, "STREAM_LIMIT", 4096)
    read_end, write_end = os.pipe()
    thread = threading.Thread(target=lambda: (os.write(write_end, b"#" * 5000), os.close(write_end)))
    thread.start()
    try:
        with pytest.raises(ValueError, match="goes on past 4096 bytes, the most read from a stream"):
            read_catalogue(f"/dev/fd/{read_end}")
    finally:
        os.close(read_end)
        thread.join()
    # Exactly the limit is read whole.
    read_end, write_end = os.pipe()
    os.write(write_end, b"#" * 4096)
    os.close(write_end)
    try:
        assert len(read_catalogue(f"/dev/fd/{read_end}")) == 0
    finally:
        os.close(read_end)


@pytest.mark.parametrize("path, kind", [("/dev/zero", "a character device"), ("/dev/null", "a character device"),
                                        ("/", "a directory")])
def test_devices_and_directories_are_refused(path, kind):
    with pytest.raises(ValueError, match=f"^cannot read a catalogue from '{path}': it is {kind}"):
        read_catalogue(path)


def test_a_proc_file_is_read_whole_though_its_size_says_0():
    assert os.stat("/proc/self/status").st_size == 0
    with _sources.source_bytes("/proc/self/status") as data:
        assert bytes(data).startswith(b"Name:") and b"\nPid:" in bytes(data)
    with pytest.raises(ValueError, match=r"^line 1: name line is not followed by a line 1"):
        read_catalogue("/proc/self/status")


HTML = b"<!DOCTYPE html>\n<html><head><title>Not Found</title></head>\n<body>no such file</body></html>\n"


@pytest.mark.parametrize("errors", ["raise", "skip"])
@pytest.mark.parametrize(
    "text, kind",
    [(HTML, "an HTML page"), (b"\xef\xbb\xbf\n  <HTML>\n<p>moved</p>\n</HTML>", "an HTML page"),
     (b'<?xml version="1.0"?>\n<feed><entry/></feed>\n', "XML or other markup")],
)
def test_a_document_that_is_not_element_sets_says_so(tmp_path, text, kind, errors):
    path = tmp_path / "cat.tle"
    path.write_bytes(text)
    with pytest.raises(ValueError, match=f"^no element sets found: the text looks like {kind}, not element sets"):
        read_catalogue(path, errors=errors)


@pytest.mark.parametrize(
    "text",
    [b'<?xml version="1.0"?>\n<ndm><omm id="CCSDS_OMM_VERS" version="2.0"></omm></ndm>\n',
     b"<omm><header/></omm>", b"CCSDS_OMM_VERS = 2.0\nCREATION_DATE = 2020-01-01\n"],
)
def test_omm_in_xml_or_kvn_keeps_its_message(text):
    with pytest.raises(ValueError, match="^OMM in XML or KVN form is not supported"):
        read_catalogue(text, errors="skip")
