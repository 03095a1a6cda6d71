"""setup_support as the suite's other setup tools take it, for x86 (i686, the
shipped architecture): installed by `cmake --install` and found with
find_package, or built from this source tree inside the tool's build
(add_subdirectory), by MinGW-w64's GCC and by clang with lld
(cmake/clang-i686-mingw.cmake). The sample tool examples/consumer runs under
Wine and writes what the library's calls answered; its own allocation
functions serve the library, and a std::bad_alloc they throw inside a library
call comes back to it with nothing left allocated."""

import json
import re
import shutil
import subprocess
from pathlib import Path

import pytest

from conftest import DRIVE_C, REPO, next_id, to_linux, to_windows, wine, wine_tool

BUILD_X86 = REPO / "build" / "x86"
CONSUMER = REPO / "examples" / "consumer"
SUPPORT = REPO / "support"
VERSION = (REPO / "VERSION").read_text().split()[0]
MINGW = "i686-w64-mingw32"
TIMEOUT = 600

# name: (toolchain file, route)
BUILDS = {
    "gcc-installed": ("mingw-i686.cmake", "installed"),
    "gcc-source": ("mingw-i686.cmake", "source"),
    "clang-installed": ("clang-i686-mingw.cmake", "installed"),
}
# This project's own definitions, which a consumer's sources are not given.
PROJECT_DEFINITIONS = ("-DUNICODE", "-D_UNICODE", "-D_WIN32_WINNT", "-DWINVER")


def shell(*command, cwd=None):
    done = subprocess.run([str(part) for part in command], cwd=cwd, capture_output=True, text=True,
                          timeout=TIMEOUT, stdin=subprocess.DEVNULL)
    assert done.returncode == 0, f"{command}:\n{done.stdout[-4000:]}\n{done.stderr[-4000:]}"
    return done.stdout


def configure_and_build(source, folder, toolchain, *definitions):
    shell("cmake", "-S", source, "-B", folder, f"-DCMAKE_TOOLCHAIN_FILE={REPO / 'cmake' / toolchain}",
          "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON", *definitions)
    shell("cmake", "--build", folder, "-j2")
    return folder


@pytest.fixture(scope="module")
def scratch(tmp_path_factory):
    return tmp_path_factory.mktemp("library-package")


@pytest.fixture(scope="module")
def prefix(scratch):
    """One install of the x86 build's library (make built the tree)."""
    assert (BUILD_X86 / "CMakeCache.txt").is_file(), "build/x86 missing: run make"
    shell("cmake", "--build", BUILD_X86, "--target", "setup_support")
    shell("cmake", "--install", BUILD_X86, "--prefix", scratch / "prefix")
    return scratch / "prefix"


@pytest.fixture(scope="module", params=BUILDS)
def consumer(request, scratch, prefix):
    toolchain, route = BUILDS[request.param]
    route_definition = f"-DCMAKE_PREFIX_PATH={prefix}" if route == "installed" else f"-DSETUP_SUPPORT_SOURCE_DIR={REPO}"
    folder = configure_and_build(CONSUMER, scratch / request.param, toolchain, route_definition)
    return request.param, folder


@pytest.fixture(scope="module")
def ran(consumer, scratch, wine_prefix):
    """The consumer's results for an installation root whose installation-wide
    settings name French, with no per-user settings file in the way."""
    name, folder = consumer
    appdata = wine_tool("cmd", "/c", "echo %APPDATA%").stdout.decode().strip()
    per_user = to_linux(appdata) / "Nimba/v182/languagesettings.txt"
    aside = scratch / f"{name}-per-user-settings"
    if per_user.exists():
        shutil.move(per_user, aside)
    root = DRIVE_C / "st" / f"consumer-{next_id()}"
    (root / "commonfiles/Language").mkdir(parents=True)
    (root / "commonfiles/Language/languagesettings.txt").write_bytes(b"lang=fr")
    results = scratch / f"{name}-results.txt"
    try:
        done = wine(to_windows(folder / "setup_support_consumer.exe"), to_windows(results), to_windows(root),
                    "--refuse-allocations")
    finally:
        if aside.exists():
            shutil.move(aside, per_user)
    lines = results.read_text(encoding="utf-8").splitlines() if results.exists() else []
    return done, dict(line.split("=", 1) for line in lines), to_windows(root)


def test_consumer_gets_the_library_answers(ran):
    done, results, root = ran
    expected = {
        "version": VERSION,
        "version_major": VERSION.split(".")[0],
        "release_code_size": "4",
        "release_code_fill": "0",
        "release_code": "182",
        "language_index": "2",
        "language_code_fill": "3",
        "language_code": "fr",
        "settings_folder": root + r"\commonfiles\Language",
        "settings_folder_after_free": "null",
    }
    assert (done.returncode, {name: results.get(name) for name in expected}) == (0, expected)


@pytest.mark.parametrize("call", ["getLanguageIndex", "allocReleaseValue"])
def test_bad_alloc_from_the_consumers_allocator_comes_back_with_nothing_left_allocated(ran, call):
    # Each allocation of the call is refused in turn by the tool's own
    # operator new, which the library's calls use.
    done, results, _ = ran
    assert done.returncode == 0, (done.returncode, done.stderr[-2000:])
    refused = int(results[f"{call}.refused"])
    assert refused > 0
    assert (results[f"{call}.bad_alloc_caught"], results[f"{call}.blocks_left"]) == (str(refused), "0")


@pytest.mark.no_prefix
def test_consumer_build_takes_nothing_of_the_projects_own_build(consumer):
    # From the source tree: the library's sources once each and the tool's,
    # no program, step or test; and on no route this project's warnings as
    # errors or definitions.
    name, folder = consumer
    commands = json.loads((folder / "compile_commands.json").read_text())
    files = sorted(Path(entry["file"]).resolve() for entry in commands)
    tool_files = sorted(CONSUMER.glob("*.cpp"))
    library_files = sorted(set(SUPPORT.glob("*.cpp")) - {SUPPORT / "allocation.cpp"})
    assert files == sorted(tool_files + (library_files if BUILDS[name][1] == "source" else []))
    assert [entry["file"] for entry in commands if "-Werror" in entry["command"]] == []
    tool_commands = [entry["command"] for entry in commands if Path(entry["file"]).resolve() in tool_files]
    assert {flag for command in tool_commands for flag in PROJECT_DEFINITIONS if flag in command} == set()
    programs = sorted(path.name for path in folder.rglob("*.exe") if "CMakeFiles" not in path.parts)
    assert programs == ["setup_support_consumer.exe"]


@pytest.mark.no_prefix
def test_install_holds_the_public_headers_alone_under_setup_support(prefix):
    installed = sorted(path.relative_to(prefix).as_posix() for path in prefix.rglob("*.h"))
    public = sorted(f"include/setup_support/{path.name}" for path in (SUPPORT / "include/setup_support").glob("*.h"))
    assert installed == sorted(public + ["include/setup_support/version.h"])
    # The owners, the suite's names and the tests' seams are never installed.
    internal = {path.name for path in SUPPORT.glob("*.h")}
    assert internal and not internal & {Path(name).name for name in installed}


@pytest.mark.no_prefix
def test_installed_archive_brings_no_allocator_of_its_own(prefix):
    # Its calls allocate with whatever operator new the tool links: a tool
    # without one of its own gets std::bad_alloc, never the programs' quiet
    # end with status 3, and a tool with one links.
    symbols = shell(f"{MINGW}-nm", "-C", "--defined-only", prefix / "lib/libsetup_support.a")
    assert "getReleaseCode" in symbols
    assert [line for line in symbols.splitlines() if re.search(r" operator (new|delete)\b", line)] == []


@pytest.mark.no_prefix
def test_no_public_header_takes_a_system_headers_name(prefix):
    # Flat, on the include path, none may hide a header of MinGW-w64, GCC's C++
    # library, clang or a common Unix system (<strings.h>, <paths.h>).
    gcc_folder = Path(shell(f"{MINGW}-g++-posix", "-print-libgcc-file-name").strip()).parent
    clang_folder = Path(shell("clang", "-print-resource-dir").strip())
    folders = [Path(f"/usr/{MINGW}/include"), gcc_folder / "include", gcc_folder / "include/c++",
               clang_folder / "include", Path("/usr/include")]
    system_names = {path.name for folder in folders for path in folder.glob("*")}
    assert "strings.h" in system_names
    assert {path.name for path in (prefix / "include/setup_support").glob("*.h")} & system_names == set()


@pytest.mark.no_prefix
@pytest.mark.parametrize("toolchain", ["mingw-i686.cmake", "clang-i686-mingw.cmake"])
def test_every_installed_header_compiles_first_and_alone(prefix, scratch, toolchain):
    # As a consumer includes it, with only the package's usage requirements
    # (C++17 among them, which clang 14 does not take by default), and its
    # warnings as errors.
    project = scratch / f"headers-{toolchain}"
    project.mkdir()
    headers = sorted(path.name for path in (prefix / "include/setup_support").glob("*.h"))
    for header in headers:
        (project / f"{Path(header).stem}.cpp").write_text(f"#include <setup_support/{header}>\n")
    (project / "CMakeLists.txt").write_text(
        "cmake_minimum_required(VERSION 3.25)\n"
        "project(header_check LANGUAGES CXX)\n"
        "find_package(setup_support CONFIG REQUIRED)\n"
        "file(GLOB units ${CMAKE_SOURCE_DIR}/*.cpp)\n"
        "add_library(header_check OBJECT ${units})\n"
        "target_link_libraries(header_check PRIVATE setup_support::setup_support)\n"
        "target_compile_options(header_check PRIVATE -Wall -Wextra -Werror)\n"
        # Not as system headers, whose warnings the compilers keep quiet.
        "set_target_properties(header_check PROPERTIES NO_SYSTEM_FROM_IMPORTED ON)\n")
    configure_and_build(project, project / "build", toolchain, f"-DCMAKE_PREFIX_PATH={prefix}")
    assert len(list((project / "build").rglob("*.obj"))) == len(headers)


@pytest.mark.no_prefix
def test_version_file_takes_the_same_major_version_of_this_architecture(prefix, tmp_path):
    major, minor = (int(part) for part in VERSION.split(".")[:2])
    rows = [  # requested version, consumer's pointer size, accepted
        (str(major), 4, True),
        (VERSION, 4, True),
        (f"{major}.{minor + 1}", 4, False),
        (f"{major - 1}.9", 4, False),
        (str(major + 1), 4, False),
        (str(major), 8, False),
    ]
    script = tmp_path / "ask.cmake"
    script.write_text(
        "string(REGEX MATCH \"^[0-9]+\" PACKAGE_FIND_VERSION_MAJOR ${PACKAGE_FIND_VERSION})\n"
        "include(${VERSION_FILE})\n"
        "if(PACKAGE_VERSION_COMPATIBLE AND NOT PACKAGE_VERSION_UNSUITABLE)\n"
        "  message(STATUS accepted)\n"
        "else()\n"
        "  message(STATUS refused)\n"
        "endif()\n")
    version_file = prefix / "lib/cmake/setup_support/setup_supportConfigVersion.cmake"
    answers = []
    for requested, pointer_size, _ in rows:
        out = shell("cmake", f"-DVERSION_FILE={version_file}", f"-DPACKAGE_FIND_VERSION={requested}",
                    f"-DCMAKE_SIZEOF_VOID_P={pointer_size}", "-P", script)
        answers.append((requested, pointer_size, "accepted" in out))
    assert answers == rows
