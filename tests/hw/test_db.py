"""db and the start-up restore on the camera's flash (UBIFS on the NAND)
across power cuts: what the tool has done is there at the next boot, as
SQLite itself reads the file."""
import pytest

from conftest import run, tool

DB = "/mnt/nand/bvdb.db"


@pytest.mark.userland
def test_a_restored_database_is_whole_after_a_cut(shell, power_cut):
    run(shell, f"rm -f {DB}")
    assert tool(shell, "-M db")[2] == 0  # every run restores it first
    # Cut once the flash has written its journal, before the kernel writes
    # the pages back: a copy kept in the page cache would be torn.
    power_cut(after=8)
    assert run(shell, f"cmp /opt/app/bvdb.db {DB} && echo whole") == "whole"


def test_a_change_reported_done_survives_a_cut_right_after(shell, power_cut):
    out, err, status = tool(shell, """-M db -e "update user set role = 'cut' where id = 2;\"""")
    assert "End execute: 'update user set role = 'cut' where id = 2;'" in out
    assert (err, status) == ("", 0)
    power_cut()
    assert run(shell, f"sqlite3 {DB} 'select role from user where id = 2'") == "cut"
