"""Makes the tests' Wine prefix and starts its server before any Windows test runs (ctest runs
this first), and with --end ends the servers the tests left running in the build folder's
prefixes (they would otherwise stay a minute)."""
import glob
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(__file__))
import harness as h

if __name__ == "__main__":
    if sys.argv[1:] == ["--end"]:
        for prefix in glob.glob(os.path.join(h.BUILD, "wineprefix*/")):
            owner = os.stat(prefix).st_uid
            before = []
            if owner != os.geteuid():
                if os.geteuid() != 0:
                    continue
                before = ["setpriv", "--reuid=%d" % owner, "--regid=%d" % owner, "--clear-groups"]
            subprocess.run(before + ["wineserver", "-k"], env=dict(h.wine_env(), WINEPREFIX=prefix),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    else:
        h._warm_wine()
