# SPDX-License-Identifier: GPL-2.0-or-later
"""The Debian package in a throwaway copy of the system: built with cpack from this build, installed
with apt into an overlay of the running root, then loaded by the real OBS from the system layout.

Three processes, nested:
  outer    (ctest) makes the package into a temporary folder, then starts
  overlay  in a private mount namespace: a tmpfs holds the overlay's upper and work folders, the
           root ("/") is the lower one, and /proc, /sys, /dev, /src and the temporary folder are
           bound into it; then it starts
  inside   chrooted into the overlay: apt installs the package, and OBS runs without any user
           plug-in, so the module can only come from /usr.
The mounts belong to the namespace and vanish with the overlay process on every exit path, a SIGKILL
included (the inside process, OBS and Xvfb get the parent-death signal); nothing touches the root.
"""

import ctypes
import glob
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree

HERE = os.path.dirname(os.path.abspath(__file__))
PLUGIN_SO = "/usr/lib/x86_64-linux-gnu/obs-plugins/stilwane.so"
DATA_DIR = "/usr/share/obs/obs-plugins/stilwane"
INSIDE_RESULT = "result.json"


def _die_with_parent():
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def cpack_config():
    """The CPack configuration of a build with the system layout: the tests' own build when it has that
    layout, else a build of the module alone made for the package (the other end-to-end tests install
    the module into a throwaway home, so the test build usually has the user layout)."""
    config = os.environ.get("STILWANE_CPACK_CONFIG", "")
    if config and os.path.exists(config):
        return config
    source, build = os.environ["STILWANE_PACKAGE_SOURCE"], os.environ["STILWANE_PACKAGE_BUILD"]
    configure = subprocess.run(
        ["cmake", "-S", source, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
         "-DSTILWANE_PLUGIN_LAYOUT=system", "-DCMAKE_INSTALL_PREFIX=/usr", "-DSTILWANE_BUILD_TESTS=OFF",
         "-DSTILWANE_BUILD_BENCH=OFF"], capture_output=True, text=True, timeout=300)
    if configure.returncode != 0:
        raise AssertionError("configuring the package build failed:\n" + configure.stdout + configure.stderr)
    # Everything this build has (the module and the package's changelog) is built here first, so that a
    # compiler error shows as such.
    built = subprocess.run(["cmake", "--build", build], capture_output=True, text=True, timeout=1200)
    if built.returncode != 0:
        raise AssertionError("building the module for the package failed:\n" + built.stdout[-4000:])
    return os.path.join(build, "CPackConfig.cmake")


def project_version():
    with open(os.path.join(HERE, "..", "..", "CMakeLists.txt")) as f:
        return re.search(r"project\(stilwane VERSION ([0-9.]+)", f.read()).group(1)


# ---------------------------------------------------------------------------------------------
# overlay: the private mount namespace


_libc = ctypes.CDLL("libc.so.6", use_errno=True)
MS_BIND, MS_REC = 4096, 16384


def _mount(source, target, fstype=None, flags=0, options=None):
    # mount(2) itself: the root has no mount(8).
    enc = lambda v: v.encode() if v is not None else None  # noqa: E731
    if _libc.mount(enc(source), enc(target), enc(fstype), flags, enc(options)) != 0:
        err = ctypes.get_errno()
        raise OSError(err, "mount %s on %s: %s" % (source, target, os.strerror(err)))


def overlay_main(work, deb):
    mounts = os.path.join(work, "ovl")
    os.makedirs(mounts)
    _mount("tmpfs", mounts, "tmpfs")
    upper, lower_work, merged = (os.path.join(mounts, n) for n in ("upper", "work", "merged"))
    for d in (upper, lower_work, merged):
        os.makedirs(d)
    _mount("overlay", merged, "overlay", 0, "lowerdir=/,upperdir=%s,workdir=%s" % (upper, lower_work))
    _mount("proc", os.path.join(merged, "proc"), "proc")
    for d in ("/sys", "/dev", "/dev/pts", "/src", work):
        target = merged + d
        os.makedirs(target, exist_ok=True)
        _mount(d, target, None, MS_BIND)
    env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
    return subprocess.call(["chroot", merged, sys.executable, "-B", os.path.abspath(__file__),
                            "--inside", work, deb], env=env, preexec_fn=_die_with_parent)


# ---------------------------------------------------------------------------------------------
# inside: the overlay as the root


def inside_main(work, deb):
    import obsharness as h

    result = {}
    # As a user would: apt resolves the Depends against the installed OBS and Qt.
    apt = subprocess.run(["apt-get", "install", "-y", "./" + os.path.basename(deb)],
                         capture_output=True, text=True, cwd=os.path.dirname(deb),
                         env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
    result["apt_rc"] = apt.returncode
    result["apt_output"] = (apt.stdout + apt.stderr)[-3000:]
    result["files"] = {p: os.path.exists(p) for p in
                       (PLUGIN_SO, DATA_DIR + "/manifest.json", DATA_DIR + "/locale/en-US.ini")}
    if apt.returncode == 0:
        with h.Session(module=False) as s:
            run = s.start_obs()
            try:
                run.wait_log(h.CANVAS_READY_RE, timeout=90)
                result["canvas_ready"] = True
            except h.HarnessError as exc:
                result["canvas_ready"] = False
                result["error"] = str(exc)
            run.stop()
            result["log"] = run.log_text()
            modules = os.path.join(s.home.obs_dir, "plugin_manager", "modules.json")
            if os.path.exists(modules):
                with open(modules) as f:
                    result["modules"] = json.load(f)
    with open(os.path.join(work, INSIDE_RESULT), "w") as f:
        json.dump(result, f)
    return 0


# ---------------------------------------------------------------------------------------------
# outer: the test case


def h_loaded(version):
    return r"\[stilwane\] plugin loaded successfully \(version %s\)" % re.escape(version)


class TestPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="stilwane-package-")
        try:
            cpack = subprocess.run(["cpack", "--config", cpack_config(), "-B", cls.work],
                                   capture_output=True, text=True, timeout=900)
            if cpack.returncode != 0:
                raise AssertionError("cpack failed:\n" + cpack.stdout + cpack.stderr)
            debs = glob.glob(os.path.join(cls.work, "*.deb"))
            if len(debs) != 1:
                raise AssertionError("cpack made %r" % debs)
            cls.deb = debs[0]
            # In the chroot "/" is no mount point, so its propagation cannot change: the root's own
            # namespace (scripts/in-root) is private already, and the overlay process's mounts stay in
            # the new namespace.
            overlay = subprocess.run(["unshare", "--mount", "--propagation", "unchanged", "--",
                                      sys.executable, "-B", os.path.abspath(__file__), "--overlay", cls.work,
                                      cls.deb], timeout=400, preexec_fn=_die_with_parent)
            path = os.path.join(cls.work, INSIDE_RESULT)
            if overlay.returncode != 0 or not os.path.exists(path):
                raise AssertionError("the overlay run failed (exit %d)" % overlay.returncode)
            with open(path) as f:
                cls.result = json.load(f)
        except BaseException:
            shutil.rmtree(cls.work, ignore_errors=True)
            raise

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_file_name_and_fields(self):
        version = project_version()
        self.assertEqual(os.path.basename(self.deb), "stilwane_%s_amd64.deb" % version)
        fields = subprocess.run(["dpkg-deb", "-f", self.deb], capture_output=True, text=True, check=True).stdout
        self.assertRegex(fields, r"(?m)^Version: %s$" % re.escape(version))
        for dep in (r"obs-studio \(>= 32\.\d+\)", r"libobs0t64 \(>= 32\.\d+\)", r"libqt6widgets6 \(>= 6\.",
                    r"qt6-base-private-abi \(= 6\."):
            self.assertRegex(fields, r"(?m)^Depends: .*" + dep)

    @unittest.skipUnless(shutil.which("lintian"), "lintian is not installed")
    def test_lintian_finds_no_error(self):
        # Warnings are allowed (and listed by lintian's own output); an error fails the package.
        result = subprocess.run(["lintian", "--fail-on", "error", "--no-tag-display-limit", self.deb],
                                capture_output=True, text=True, timeout=300)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertNotRegex(result.stdout, r"(?m)^E: ")

    def test_installs_into_the_system_layout(self):
        self.assertEqual(self.result["apt_rc"], 0, self.result["apt_output"])
        self.assertEqual(self.result["files"], {p: True for p in self.result["files"]})
        self.assertFalse(os.path.exists(PLUGIN_SO), "the package reached the build root itself")

    def test_obs_loads_the_installed_module(self):
        self.assertTrue(self.result.get("canvas_ready"),
                        self.result.get("error", "") + self.result.get("log", "")[-4000:])
        log = self.result["log"]
        self.assertRegex(log, r"(?m)Loading module: stilwane\.so$|^\s+stilwane\.so$")
        self.assertRegex(log, h_loaded(project_version()))
        self.assertNotIn(".config/obs-studio/plugins/stilwane", log)

    def test_plugin_manager_shows_the_manifest(self):
        entries = [m for m in self.result.get("modules", []) if m.get("module_name") == "stilwane"]
        self.assertEqual(len(entries), 1, self.result.get("modules"))
        self.assertEqual((entries[0]["display_name"], entries[0]["id"], entries[0]["version"]),
                         ("Stilwane", "stilwane", project_version()))


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "--overlay":
        _die_with_parent()
        sys.exit(overlay_main(sys.argv[2], sys.argv[3]))
    if len(sys.argv) == 4 and sys.argv[1] == "--inside":
        sys.path.insert(0, HERE)
        sys.exit(inside_main(sys.argv[2], sys.argv[3]))
    unittest.main(verbosity=2)
