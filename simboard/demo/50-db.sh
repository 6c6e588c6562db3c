# The configuration databases: the table list, a query of the network
# settings, a change and the oem tables.
show debug -M db -t
show debug -M db -s "select iface, dhcp, ip, gateway, mac from network;"
show debug -M db -e "update system set value = 'IPC-Demo' where key = 'device_name';" \
    -s "select key, value from system;"
show debug -M db -d oem -t -s "select * from oem_info;"
