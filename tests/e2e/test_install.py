"""The installed programs, not the build tree: a staged install under DESTDIR and the two
packages (a Debian package of the native build, a .zip of the Windows build) must hold programs
that run and a manual that "-manual" finds."""
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(__file__))
import harness as h


def recorder(folder, names=("xdg-open", "xdg-email")):
    """Stand-ins for the desktop openers that record what they were handed."""
    log = os.path.join(folder, "opened.log")
    for n in names:
        p = os.path.join(folder, n)
        with open(p, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$*" >> %s\n' % log)
        os.chmod(p, 0o755)
    return log


def wait_for_file(path, timeout=20):
    import time
    end = time.time() + timeout
    while time.time() < end:
        if os.path.exists(path) and os.path.getsize(path) > 0:
            with open(path) as f:
                return f.read()
        time.sleep(0.1)
    return ""


def cpack(generator):
    r = subprocess.run(["cpack", "-G", generator], cwd=h.BUILD, stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, timeout=600)
    if r.returncode != 0:
        raise AssertionError(r.stdout.decode(errors="replace"))
    folder = os.path.join(h.BUILD, "packages")
    ext = ".deb" if generator == "DEB" else ".zip"
    found = [os.path.join(folder, f) for f in os.listdir(folder) if f.endswith(ext)]
    assert found, "no %s package in %s" % (ext, folder)
    return max(found, key=os.path.getmtime)


@unittest.skipIf(h.WINDOWS, "the staged install and the Debian package belong to the native build")
class NativeInstall(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="quorvel-install-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def check_installed(self, root):
        # The link in bin/ runs the program in lib/quorvel/, and -manual hands over the manual
        # that lies beside it (an install that split them would break the option).
        quorvel = os.path.join(root, "usr", "bin", "quorvel")
        self.assertTrue(os.path.exists(quorvel), quorvel)
        r = subprocess.run([quorvel, "-?"], stdout=subprocess.PIPE, timeout=60)
        self.assertEqual(r.returncode, 0)
        self.assertIn(b"Usage: quorvel [options] [directory] [options]", r.stdout)
        tools = os.path.join(self.tmp, "tools")
        os.makedirs(tools, exist_ok=True)
        log = recorder(tools)
        env = dict(os.environ, PATH=tools + os.pathsep + os.environ["PATH"])
        r = subprocess.run([quorvel, "-manual"], stdout=subprocess.PIPE, env=env, timeout=60)
        self.assertEqual(r.returncode, 0)
        opened = wait_for_file(log).strip()
        self.assertTrue(opened.endswith("/quorvel.txt"), opened)
        self.assertTrue(os.path.isfile(opened), opened)
        self.assertTrue(os.path.samefile(os.path.dirname(opened),
                                         os.path.join(root, "usr", "lib", "quorvel")))
        self.assertTrue(os.access(os.path.join(root, "usr", "bin", "quillpost"), os.X_OK))
        self.assertTrue(os.path.isfile(os.path.join(root, "usr", "share", "man", "man1", "quorvel.1")))

    def test_staged_install(self):
        stage = os.path.join(self.tmp, "stage")
        env = dict(os.environ, DESTDIR=stage)
        r = subprocess.run(["cmake", "--install", h.BUILD, "--prefix", "/usr"], env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
        self.assertEqual(r.returncode, 0, r.stdout)
        self.check_installed(stage)

    def test_make_run_names_the_build_tools_it_lacks(self):
        # Guards "make run" failing on a bare machine with cmake's "not found" and nothing
        # else. Without apt-get on PATH nothing can be installed, so the run only says what is
        # missing, as root or not, and stops before any build.
        tools = os.path.join(self.tmp, "bare-path")
        os.makedirs(tools)
        for name in ("make", "sh", "id"):
            os.symlink(shutil.which(name), os.path.join(tools, name))
        r = subprocess.run(["make", "-C", h.SOURCE, "--no-print-directory", "run"],
                           env={"PATH": tools}, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           timeout=60)
        self.assertNotEqual(r.returncode, 0)
        self.assertEqual(r.stdout, b"")
        self.assertTrue(r.stderr.startswith(b"missing packages: cmake g++ rapidjson-dev ("), r.stderr)

    def test_make_run_says_it_builds_before_it_builds_and_is_quiet_when_up_to_date(self):
        # Guards a first "make run" silent for a minute (every line of the build thrown away),
        # and a later one that repeats the build's lines when there is nothing to build. A
        # stand-in cmake builds a stand-in program; its build waits until the test has read
        # the announcement, so a line written only after the build never arrives in time.
        import select
        tools = os.path.join(self.tmp, "tools")
        build = os.path.join(self.tmp, "build")
        go = os.path.join(self.tmp, "go")
        os.makedirs(tools)
        with open(os.path.join(tools, "cmake"), "w") as f:
            f.write("""#!/bin/sh
if [ "$1" = -S ]; then mkdir -p "$4" && : > "$4/CMakeCache.txt"; exit 0; fi
build="$2"
if [ -x "$build/quorvel" ]; then echo "[100%%] Built target quorvel"; exit 0; fi
echo "[ 50%%] Building CXX object CMakeFiles/quorvel.dir/driver/main.cpp.o"
while [ ! -e %s ]; do sleep 0.05; done
echo "[100%%] Linking CXX executable quorvel"
printf '#!/bin/sh\\necho "report of $*"\\n' > "$build/quorvel"; chmod +x "$build/quorvel"
echo "[100%%] Built target quorvel"
""" % go)
        os.chmod(os.path.join(tools, "cmake"), 0o755)
        env = dict(os.environ, PATH=tools + os.pathsep + os.environ["PATH"])
        command = ["make", "-C", h.SOURCE, "--no-print-directory", "run", "NATIVE=" + build,
                   "ARGS=-p /srv"]
        # Unbuffered, so that what select sees waiting is all that was written.
        first = subprocess.Popen(command, env=env, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, bufsize=0)
        try:
            said = []
            while len(said) < 2:
                ready, _, _ = select.select([first.stdout], [], [], 60)
                self.assertTrue(ready, "nothing said while the build runs: %r" % said)
                said.append(first.stdout.readline().rstrip(b"\n"))
        finally:
            open(go, "w").close()
        rest, _ = first.communicate(timeout=60)
        self.assertEqual(first.returncode, 0)
        self.assertEqual(said, [
            b"make run: setting up the build in " + build.encode() +
            b", then building quorvel (a minute or more the first time)",
            b"[ 50%] Building CXX object CMakeFiles/quorvel.dir/driver/main.cpp.o"])
        self.assertEqual(rest, b"[100%] Linking CXX executable quorvel\nreport of -p /srv\n")
        again = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               timeout=60)
        self.assertEqual(again.stdout, b"report of -p /srv\n")

    def test_manual_page_renders_without_warnings(self):
        page = os.path.join(h.SOURCE, "docs", "quorvel.1")
        if not shutil.which("groff"):
            self.skipTest("groff is not installed")
        r = subprocess.run(["groff", "-man", "-ww", "-z", page], stderr=subprocess.PIPE)
        self.assertEqual(r.returncode, 0)
        self.assertEqual(r.stderr, b"")

    def test_debian_package(self):
        deb = cpack("DEB")
        info = subprocess.run(["dpkg-deb", "-I", deb], stdout=subprocess.PIPE, check=True).stdout
        self.assertIn(b"Package: quorvel", info)
        self.assertIn(b"Version: 1.0.0", info)
        self.assertIn(b"Depends: libc6", info)
        self.assertIn(b"disk space", info)
        root = os.path.join(self.tmp, "root")
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        self.check_installed(root)


def large_address_aware(program):
    """Whether a PE program's file header has IMAGE_FILE_LARGE_ADDRESS_AWARE (0x20): the 4 GB
    of address space of a 32-bit program on 64-bit Windows instead of 2 GB."""
    header = int.from_bytes(program[0x3C:0x40], "little")
    assert program[header:header + 4] == b"PE\0\0"
    return bool(int.from_bytes(program[header + 22:header + 24], "little") & 0x20)


@unittest.skipUnless(h.WINDOWS, "the .zip belongs to the Windows build")
class WindowsZip(unittest.TestCase):
    def test_zip_runs_from_an_empty_folder(self):
        archive = cpack("ZIP")
        self.assertEqual(os.path.basename(archive), "quorvel-1.0.0-%s.zip" % h.PLATFORM)
        with zipfile.ZipFile(archive) as z:
            names = sorted(z.namelist())
            self.assertEqual(names, ["config.exe", "quillpost.exe", "quorvel.exe", "quorvel.txt"])
            manual = z.read("quorvel.txt")
            for name in names:
                if name.endswith(".exe"):
                    program = z.read(name)
                    self.assertTrue(large_address_aware(program), name)
                    header = int.from_bytes(program[0x3C:0x40], "little")
                    machine = int.from_bytes(program[header + 4:header + 6], "little")
                    self.assertEqual(machine, 0x8664 if h.PLATFORM == "win64" else 0x14C, name)
        self.assertIn(b"\r\n", manual)
        self.assertNotIn(b"\n", manual.replace(b"\r\n", b""))
        folder = tempfile.mkdtemp(prefix="quorvel-zip-")
        try:
            with zipfile.ZipFile(archive) as z:
                z.extractall(folder)
            env = h.wine_env()
            r = subprocess.run([h.WINE, os.path.join(folder, "quorvel.exe"), "-?"], env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120)
            self.assertEqual(r.returncode, 0)
            self.assertIn(b"Usage: quorvel [options] [directory] [options]", r.stdout)
            # With nothing typed the configuration program keeps what is stored.
            r = subprocess.run([h.WINE, os.path.join(folder, "config.exe")], env=env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, timeout=120)
            self.assertEqual(r.returncode, 0)
            self.assertEqual(h.lines(r.stdout)[-1], b"Kept as they were.")
        finally:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    h.main()
