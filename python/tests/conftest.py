import os
import shutil
import subprocess

import numpy as np
import pytest


@pytest.fixture(scope="session")
def dsptool():
    """Runs `dsptool process` (the tool of the same build: $DSPTOOL, else the one on PATH)."""
    tool = os.environ.get("DSPTOOL") or shutil.which("dsptool")
    if not tool:
        pytest.skip("no dsptool to compare with")
    return lambda *args: subprocess.run([tool, "-q", "process", *map(str, args)], check=True, capture_output=True)


def noise(frames, channels, seed, level=4000):
    return (np.random.default_rng(seed).standard_normal((frames, channels)) * level).astype(np.int16)
