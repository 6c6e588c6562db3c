# The module's calls into the Wi-Fi library go to recording doubles.
target_link_options(${name} PRIVATE -Wl,--wrap=wifi_config -Wl,--wrap=wifi_info_scan
                    -Wl,--wrap=wifi_info_list_delete -Wl,--wrap=wifi_get_status
                    -Wl,--wrap=wifi_print_status -Wl,--wrap=wifi_print_config
                    -Wl,--wrap=wifi_wps_get_pin)
