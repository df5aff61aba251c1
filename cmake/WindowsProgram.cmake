# Placeholder until the Windows program target lands.
