# Placeholder until the resource embedding lands.
add_library(sablewick_resources INTERFACE)
