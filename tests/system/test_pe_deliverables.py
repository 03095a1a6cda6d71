"""The shipped 32-bit programs as Windows loads them: machine, subsystem,
imports, manifest, icon and size; and what both builds' programs tell Windows
Installer, Explorer and Remote Desktop hosts: version resource and header
flags (read with pefile, no Wine needed)."""

import struct

import pefile
import pytest

from conftest import DIST, DIST_X64, DIST_X86, INSTALLER, REMOVER, REPO

PROGRAMS = (INSTALLER, REMOVER)
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_MANIFEST = 3, 5, 6, 14, 24
# Only DLLs every Windows has: the deliverables are copied alone, without any
# MinGW runtime DLL beside them.
SYSTEM_DLLS = {"KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL", "SHELL32.DLL", "SHLWAPI.DLL",
               "OLE32.DLL", "OLEAUT32.DLL", "MSVCRT.DLL", "NTDLL.DLL"}
# Calls that Windows Vista and 7 lack (or have only with an update): the
# programs find them at run time, and a program importing one would not start
# there.
NEWER_THAN_WINDOWS_7 = {b"SetDefaultDllDirectories", b"SetProcessMitigationPolicy", b"AddDllDirectory",
                        b"GetSystemTimePreciseAsFileTime"}
pytestmark = pytest.mark.no_prefix

VISTA_ID = "{e2011457-1546-43c5-a5fe-008deee3d3f0}"
WINDOWS7_ID = "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"


# The release number's one source.
VERSION = (REPO / "VERSION").read_text().split()[0]
BUILDS = [(arch, program) for arch in DIST for program in PROGRAMS]
US_ENGLISH_UNICODE = (0x0409, 1200)
VERSION_STRINGS = ("CompanyName", "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
                   "OriginalFilename", "ProductName", "ProductVersion")
# Header flags every program must carry, by build: relocatable (ASLR), no
# execution from data pages (DEP), and TERMINAL_SERVER_AWARE, without which a
# Remote Desktop host runs it under its compatibility layer.
DLL_CHARACTERISTICS = {
    "x86": ("DYNAMIC_BASE", "NX_COMPAT", "TERMINAL_SERVER_AWARE"),
    "x64": ("DYNAMIC_BASE", "NX_COMPAT", "TERMINAL_SERVER_AWARE", "HIGH_ENTROPY_VA"),
}
SHIPPED_SIZE_LIMIT = 32 * 1024


@pytest.fixture(scope="module", params=BUILDS, ids=lambda build: f"{build[0]}-{build[1]}")
def build(request):
    arch, program = request.param
    pe = pefile.PE(str(DIST[arch] / program))
    yield arch, program, pe
    pe.close()


@pytest.fixture(scope="module", params=PROGRAMS)
def deliverable(request):
    pe = pefile.PE(str(DIST_X86 / request.param))
    yield pe
    pe.close()


def resource_type(pe, type_id):
    return next((e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries if e.id == type_id), None)


def resource_bytes(pe, entry):
    data = entry.directory.entries[0].data.struct
    return pe.get_data(data.OffsetToData, data.Size)


def test_is_a_32_bit_gui_program(deliverable):
    assert deliverable.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]
    assert deliverable.OPTIONAL_HEADER.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE
    assert deliverable.OPTIONAL_HEADER.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]


def test_imports_only_system_dlls(deliverable):
    imported = {entry.dll.decode().upper() for entry in deliverable.DIRECTORY_ENTRY_IMPORT}
    assert imported <= SYSTEM_DLLS
    assert not any(name.startswith(("LIBSTDC++", "LIBGCC", "LIBWINPTHREAD")) for name in imported)
    delayed = getattr(deliverable, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
    assert {entry.dll.decode().upper() for entry in delayed} <= SYSTEM_DLLS
    functions = {i.name for entry in deliverable.DIRECTORY_ENTRY_IMPORT for i in entry.imports}
    assert not functions & NEWER_THAN_WINDOWS_7


def test_carries_no_string_table_and_no_dialog(deliverable):
    # The library's dialog texts read the caller's string table; the programs
    # themselves stay windowless and bring none.
    assert resource_type(deliverable, RT_STRING) is None
    assert resource_type(deliverable, RT_DIALOG) is None


def test_manifest_asks_highest_available_and_names_vista_and_windows7(deliverable):
    manifests = resource_type(deliverable, RT_MANIFEST)
    assert manifests is not None
    by_id = {e.id: e for e in manifests.directory.entries}
    assert 1 in by_id, "the process manifest must be resource 1"
    text = resource_bytes(deliverable, by_id[1]).decode("utf-8")
    assert 'level="highestAvailable"' in text
    assert 'uiAccess="false"' in text
    assert f'Id="{VISTA_ID}"' in text
    assert f'Id="{WINDOWS7_ID}"' in text


def test_icon_group_idi_myicon_holds_several_sizes(deliverable):
    groups = resource_type(deliverable, RT_GROUP_ICON)
    assert groups is not None
    named = {str(e.name): e for e in groups.directory.entries if e.name is not None}
    assert "IDI_MYICON" in named
    header = resource_bytes(deliverable, named["IDI_MYICON"])
    reserved, kind, count = struct.unpack_from("<HHH", header)
    assert (reserved, kind) == (0, 1)
    assert count >= 2
    assert len(header) >= 6 + 14 * count
    # Every member of the group must exist as an icon image resource.
    icons = resource_type(deliverable, RT_ICON)
    icon_ids = {e.id for e in icons.directory.entries}
    sizes = set()
    for i in range(count):
        width, height, _, _, _, _, _, icon_id = struct.unpack_from("<BBBBHHIH", header, 6 + 14 * i)
        assert icon_id in icon_ids
        sizes.add((width or 256, height or 256))
    assert len(sizes) >= 2


@pytest.mark.parametrize("program", PROGRAMS)
def test_tested_builds_are_64_bit(program):
    pe = pefile.PE(str(DIST_X64 / program), fast_load=True)
    try:
        assert pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]
        assert pe.OPTIONAL_HEADER.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]
    finally:
        pe.close()


def test_version_resource_names_the_file_and_the_release(build):
    arch, program, pe = build
    blocks = {info.Key: info for info in pe.FileInfo[0]}
    translations = [tuple(int(half, 16) for half in var.entry[b"Translation"].split())
                    for var in blocks[b"VarFileInfo"].Var]
    assert translations == [US_ENGLISH_UNICODE]
    tables = {table.LangID: table.entries for table in blocks[b"StringFileInfo"].StringTable}
    assert list(tables) == [b"%04x%04x" % US_ENGLISH_UNICODE]
    strings = {key.decode(): value.decode() for key, value in tables[b"040904b0"].items()}
    assert sorted(strings) == sorted(VERSION_STRINGS)
    assert all(strings.values()), strings
    assert (strings["OriginalFilename"], strings["InternalName"]) == (program, program.removesuffix(".exe"))
    assert (strings["FileVersion"], strings["ProductVersion"]) == (VERSION, VERSION)
    # Windows Installer compares the fixed numbers, not the strings.
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = [int(part) for part in VERSION.split(".")] + [0] * (4 - len(VERSION.split(".")))
    for ms, ls in ((fixed.FileVersionMS, fixed.FileVersionLS), (fixed.ProductVersionMS, fixed.ProductVersionLS)):
        assert [ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF] == numbers


def test_header_flags(build):
    arch, _, pe = build
    missing = [flag for flag in DLL_CHARACTERISTICS[arch]
               if not pe.OPTIONAL_HEADER.DllCharacteristics & pefile.DLL_CHARACTERISTICS[
                   f"IMAGE_DLLCHARACTERISTICS_{flag}"]]
    assert missing == []


def test_shipped_program_fits_in_32_kib(deliverable):
    # Unsigned; a signature adds about 2 KB as an overlay.
    assert len(deliverable.__data__) <= SHIPPED_SIZE_LIMIT
