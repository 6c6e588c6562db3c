# Wi-Fi through the board's real wpa_supplicant (wired driver on wlan0), with
# an access point at the far end of the link: hostapd with WPS, WPA2-PSK.
cat >"$board/root/mnt/nand/wpa_supplicant.conf" <<'CONF'
ctrl_interface=/var/run/wpa_supplicant
update_config=1
CONF
cat >"$board/root/tmp/ap.conf" <<'CONF'
interface=ap0
driver=wired
ctrl_interface=/run/hostapd
ieee8021x=1
eap_server=1
ssid=Lab-AP
wpa=2
wpa_passphrase=secret-pass
wpa_key_mgmt=WPA-PSK
rsn_pairwise=CCMP
wps_state=2
config_methods=push_button keypad
CONF
simboard/board exec "$board" wpa_supplicant -B -Dwired -iwlan0 \
    -c /mnt/nand/wpa_supplicant.conf -f /tmp/wpa.log
simboard/board exec "$board" peer hostapd -B -f /tmp/ap.log /tmp/ap.conf
for _ in $(seq 100); do
    [ -S "$board/root/run/wpa_supplicant/wlan0" ] && [ -S "$board/root/run/hostapd/ap0" ] && break
    sleep 0.05
done
show debug -M wifi --link
show debug -M wifi -e 0 -m 0 --ssid Cam-Open
sleep 1
show debug -M wifi --link --status
show debug -M wifi -e 3 -m 0 --ssid Cam-Home --psk secret-home --pairwise 2
show cat /mnt/nand/wpa_supplicant.conf
show debug -M wifi -e 0 --ssid a-name-longer-than-the-32-bytes-of-an-ssid
show wpa_cli -i wlan0 list_networks
show debug -M wifi --wps 1
show hostapd_cli -p /run/hostapd -i ap0 wps_pbc
sleep 3
show wpa_cli -i wlan0 list_networks
