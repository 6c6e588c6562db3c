# Statements and column reads of the db module pass through recording
# doubles that call the real library.
target_link_options(${name} PRIVATE -Wl,--wrap=sqlite_execute -Wl,--wrap=sqlite_query_column_text)
