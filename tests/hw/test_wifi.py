"""wifi: the camera's radio (wlan0) against the lab's access point "Lab-AP"
(WPA2-PSK, WPS) on the other radio, in the board's network namespace ap;
wpa_supplicant on nl80211 and hostapd, checked with wpa_cli, hostapd_cli
and iw."""
import re

import pytest

from conftest import run, tool

AP = "ip netns exec ap"
START_AP = f"{AP} hostapd -B -P /run/hostapd.pid -f /tmp/hostapd.log /etc/hostapd/lab-ap.conf"
PASSPHRASE = "lab-passphrase"
# Waits until the daemon of a pid file has ended (and let its radio go).
GONE = "while kill -0 $(cat {pid}) 2>/dev/null; do sleep 0.1; done"


def until(shell, condition, seconds=30):
    """Waits on the board until CONDITION (a shell command) succeeds."""
    shell.run_check(f"for i in $(seq {seconds * 4}); do {condition} && exit 0; sleep 0.25; done; "
                    f"echo 'not within {seconds} s: {condition}'; false", timeout=seconds + 10)


def wpa_status(shell):
    return dict(line.split("=", 1) for line in
                shell.run_check("wpa_cli -i wlan0 status") if "=" in line)


def connected(shell):
    until(shell, "wpa_cli -i wlan0 status | grep -qx wpa_state=COMPLETED")


@pytest.fixture(autouse=True)
def no_networks(shell):
    """The camera knows no network and the lab's access point is up."""
    if shell.run("test -e /etc/hostapd/lab-ap.conf")[2] != 0:
        pytest.skip("no lab access point on this board (not the QEMU board)")
    until(shell, "wpa_cli -i wlan0 ping >/dev/null")
    run(shell, "wpa_cli -i wlan0 remove_network all >/dev/null && wpa_cli -i wlan0 save_config >/dev/null && sync")
    if shell.run(f"{AP} hostapd_cli -i wlan1 ping")[2] != 0:
        run(shell, START_AP)
    until(shell, f"{AP} hostapd_cli -i wlan1 status | grep -qx state=ENABLED")
    until(shell, "! wpa_cli -i wlan0 status | grep -qx wpa_state=COMPLETED")


def test_a_scan_lists_the_access_point_with_its_bssid_channel_and_signal(shell):
    bssid = run(shell, f"{AP} cat /sys/class/net/wlan1/address")
    out, err, status = tool(shell, "-M wifi --scan")
    assert (err, status) == ("", 0)
    assert re.search(rf"^{bssid} +6 +-\d+ dBm +WPA2-PSK-CCMP WPS +Lab-AP$", out, re.M), out


def test_a_wpa2_link_saved_comes_up_after_a_power_cut_and_goes_down_when_the_access_point_stops(
        shell, power_cut):
    out, err, status = tool(shell, f"-M wifi -e 3 -m 0 --ssid Lab-AP --psk {PASSPHRASE} --pairwise 2")
    assert (out, err, status) == ('wlan0: network 0 "Lab-AP" (WPA2-PSK) selected and saved', "", 0)
    # Saved means kept: the supplicant starts again from its file on the flash.
    power_cut()
    connected(shell)
    status = wpa_status(shell)
    assert (status["ssid"], status["key_mgmt"], status["pairwise_cipher"]) == \
        ("Lab-AP", "WPA2-PSK", "CCMP")
    assert "Connected to " + run(shell, f"{AP} cat /sys/class/net/wlan1/address") in \
        run(shell, "iw dev wlan0 link")
    assert tool(shell, "-M wifi --link")[0].startswith("Wifi link up!")

    run(shell, f"kill $(cat /run/hostapd.pid) && {GONE.format(pid='/run/hostapd.pid')}")
    # The tool reads the link as the supplicant holds it, which learns of
    # the loss after the kernel: the wait is on what the tool reads.
    until(shell, "debug -M wifi --link | grep -q '^Wifi link down!'")
    assert run(shell, "iw dev wlan0 link") == "Not connected."


def test_wps_push_button(shell):
    run(shell, f"{AP} hostapd_cli -i wlan1 wps_pbc")
    out, _, status = tool(shell, "-M wifi --wps 1")
    assert status == 0 and "WPS push-button started" in out
    connected(shell)
    assert 'ssid="Lab-AP"' in run(shell, "cat /mnt/nand/wpa_supplicant.conf")


def test_wps_with_the_cameras_pin_entered_on_the_access_point(shell):
    out, _, status = tool(shell, "-M wifi --wps 0")
    pin = re.search(r"^Get IPC-wifi pin code = (\d{8}) $", out, re.M)
    assert status == 0 and pin, out
    run(shell, f"{AP} hostapd_cli -i wlan1 wps_pin any {pin.group(1)}")
    connected(shell)


def test_wps_with_the_access_points_pin_found_by_its_name(shell):
    out, _, status = tool(shell, "-M wifi --wps 2 --apname Lab-AP --pincode 12345670")
    assert status == 0 and 'access point "Lab-AP"' in out, out
    connected(shell)
    assert wpa_status(shell)["ssid"] == "Lab-AP"


def test_an_ad_hoc_cell_with_the_other_radio(shell):
    # The lab's radio leaves its access point and starts an RSN cell.
    run(shell, f"kill $(cat /run/hostapd.pid) && {GONE.format(pid='/run/hostapd.pid')}; "
        "printf 'network={\\nssid=\"Lab-Cell\"\\nmode=1\\nfrequency=2437\\nkey_mgmt=WPA-PSK\\n"
        f"proto=RSN\\npairwise=CCMP\\ngroup=CCMP\\npsk=\"{PASSPHRASE}\"\\n}}\\n' >/tmp/cell.conf; "
        f"{AP} wpa_supplicant -B -Dnl80211 -iwlan1 -c /tmp/cell.conf -P /run/cell.pid")
    try:
        # The camera joins the cell it finds: one that starts later makes
        # a cell of its own, which merges only at the next IBSS scan.
        until(shell, f"{AP} iw dev wlan1 link | grep -q 'Joined IBSS'")
        out, err, status = tool(shell, "-M wifi -e 2 -m 1 -c 6 --ssid Lab-Cell "
                                       f"--psk {PASSPHRASE} --pairwise 1 --group 1")
        assert status == 0 and "selected and saved" in out, out + err
        assert "an ad-hoc WPA-PSK cell runs as RSN with CCMP keys, not proto WPA, " \
            "pairwise TKIP, group TKIP" in err
        connected(shell)
        assert re.search(r"^\s+type IBSS$", run(shell, "iw dev wlan0 info"), re.M)
        until(shell, "iw dev wlan0 station dump | grep -q 'authorized:.yes'")
        # The cell runs RSN with CCMP, whatever was asked; the supplicant says so.
        status = wpa_status(shell)
        assert (status["pairwise_cipher"], status["group_cipher"]) == ("CCMP", "CCMP")
    finally:
        run(shell, f"kill $(cat /run/cell.pid) && {GONE.format(pid='/run/cell.pid')}")
