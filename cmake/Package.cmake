# Placeholder: the package to embed (resources/package builds one with wixl).
set(SABLEWICK_MSI_FILE "${SABLEWICK_MSI}")
