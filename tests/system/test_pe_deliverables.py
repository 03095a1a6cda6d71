"""The shipped 32-bit programs as Windows loads them: machine, subsystem,
imports, manifest and icon (read with pefile, no Wine needed)."""

import struct

import pefile
import pytest

from conftest import DIST_X64, DIST_X86, INSTALLER, REMOVER

PROGRAMS = (INSTALLER, REMOVER)
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_MANIFEST = 3, 5, 6, 14, 24
# Only DLLs every Windows has: the deliverables are copied alone, without any
# MinGW runtime DLL beside them.
SYSTEM_DLLS = {"KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL", "SHELL32.DLL", "SHLWAPI.DLL",
               "OLE32.DLL", "OLEAUT32.DLL", "MSVCRT.DLL"}
pytestmark = pytest.mark.no_prefix

VISTA_ID = "{e2011457-1546-43c5-a5fe-008deee3d3f0}"
WINDOWS7_ID = "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"


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
