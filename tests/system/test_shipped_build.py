"""What ships, built as a release engineer builds it: two clean clones of the
commit (HEAD), in different folders and one after the other, give the same
bytes for every shipped file (`make shipped`: the 32-bit programs, their
packages and setups); a package of other content gets other codes; and with a
certificate `make shipped` signs every program and package, which still
installs and runs under Wine."""

import os
import re
import subprocess

import pytest

from conftest import INSTALLER, MACHINE, REMOVER, REPO, to_windows
from test_msi_package import SamplePackage, assert_sample_installed

SHIPPED = ("dist/x86/shortcut_installer.exe", "dist/x86/shortcut_remover.exe",
           "dist/x86/nimba_sample_suite.msi", "dist/x86/nimba_sample_suite_peruser.msi",
           "dist/x86/nimba_sample_suite_setup.exe", "dist/x86/nimba_sample_suite_setup_peruser.exe",
           "build/nsis/nimba_sample_suite_setup_2025r2.exe")
BUILD_TIMEOUT = 900
PASSWORD = "throwaway"

# Nothing of the calling build may leak in; git may work on a checkout owned
# by another user (CI runs as root).
BUILD_ENVIRONMENT = {name: value for name, value in os.environ.items()
                     if not name.startswith(("SOURCE_DATE_EPOCH", "SIGN_", "MSI_", "MAKE", "MFLAGS"))}
BUILD_ENVIRONMENT.update(GIT_CONFIG_COUNT="1", GIT_CONFIG_KEY_0="safe.directory", GIT_CONFIG_VALUE_0="*")


def shell(*command, cwd=None, **environment):
    done = subprocess.run(command, cwd=cwd, env={**BUILD_ENVIRONMENT, **environment}, capture_output=True,
                          text=True, timeout=BUILD_TIMEOUT, stdin=subprocess.DEVNULL)
    assert done.returncode == 0, f"{command}:\n{done.stdout[-3000:]}\n{done.stderr[-3000:]}"
    return done.stdout


def build_clone(folder):
    shell("git", "clone", "--quiet", "--no-hardlinks", str(REPO), str(folder))
    shell("make", "--no-print-directory", "JOBS=2", "shipped", cwd=folder)
    return folder


@pytest.fixture(scope="module")
def clones(tmp_path_factory):
    scratch = tmp_path_factory.mktemp("shipped")
    first = build_clone(scratch / "first")
    # Another folder, of another length, built later.
    second = build_clone(scratch / "second clone, elsewhere")
    return first, second


def package_codes(package):
    product = re.search(r"^ProductCode\t(\S+)", shell("msiinfo", "export", str(package), "Property"), re.M)
    revision = re.search(r"^Revision number \(UUID\): (\S+)", shell("msiinfo", "suminfo", str(package)), re.M)
    return product.group(1), revision.group(1)


@pytest.mark.no_prefix
def test_two_clean_clones_ship_identical_bytes(clones):
    first, second = clones
    differing = [name for name in SHIPPED if (first / name).read_bytes() != (second / name).read_bytes()]
    assert differing == []


@pytest.mark.no_prefix
def test_package_of_other_content_has_other_codes(clones, tmp_path):
    # The same version, one file changed: Windows Installer must not take one
    # package for the other.
    first = clones[0]
    relinfo = tmp_path / "relinfo.xml"
    relinfo.write_bytes((first / "examples/msi/relinfo.xml").read_bytes().replace(b"2026 R1", b"2026 R1b"))
    shell(str(first / "examples/msi/build_msi.sh"), MSI_ARCHES="x86", MSI_OUT=str(tmp_path),
          MSI_RELINFO=str(relinfo))
    shipped, other = (package_codes(folder / "x86/nimba_sample_suite.msi") for folder in (first / "dist", tmp_path))
    assert all(a != b for a, b in zip(shipped, other)), (shipped, other)


def test_signed_build_verifies_and_installs(clones, tmp_path):
    """Runs after the comparison: it signs the first clone's files in place."""
    first = clones[0]
    key, certificate, pfx = tmp_path / "key.pem", tmp_path / "certificate.pem", tmp_path / "signing.pfx"
    shell("openssl", "req", "-x509", "-newkey", "rsa:2048", "-sha256", "-days", "2", "-nodes",
          "-subj", "/CN=NIMBA throwaway code signing", "-addext", "extendedKeyUsage=codeSigning",
          "-keyout", str(key), "-out", str(certificate))
    shell("openssl", "pkcs12", "-export", "-inkey", str(key), "-in", str(certificate),
          "-passout", f"pass:{PASSWORD}", "-out", str(pfx))
    shell("make", "--no-print-directory", "JOBS=2", "shipped", cwd=first, SIGN_PFX=str(pfx), SIGN_PASSWORD=PASSWORD)

    for name in SHIPPED:
        shell("osslsigncode", "verify", "-CAfile", str(certificate), "-in", str(first / name))
    # The signed package, with the signed programs in it, does its job.
    package = SamplePackage("x86", MACHINE, folder=first / "dist/x86")
    try:
        package.msiexec("/i")
        assert_sample_installed(package.root, MACHINE)
        # The programs were signed before they were packed.
        for program in (INSTALLER, REMOVER):
            assert (package.root / "NIMBA/bin/winx64/setup" / program).read_bytes() == \
                (first / "dist/x86" / program).read_bytes()
        package.msiexec("/x")
    finally:
        package.uninstall_left_over()
    assert not package.root.exists(), to_windows(package.root)
