// Identifiers of the setup program's resources. Shared by the .rc script and
// the program's code, so both name each resource by the same number.
#pragma once

#define IDI_SABLEWICK_SETUP     101  // group icon, the program's icon in the shell
#define IDR_SABLEWICK_MSI       102  // "MSI": the agent's Windows Installer package
#define IDR_SABLEWICK_CFG       104  // "CFG": the agent's configuration template
#define IDS_SABLEWICK_ERROR     105  // message-box text, with the error's "%1%"
#define IDS_SABLEWICK_CAPTION   106  // message-box caption
#define IDR_SABLEWICK_DAT       107  // "DAT": the agent's initial settings record
#define IDR_SABLEWICK_ONETIME   108  // "ONETIME": looked up, but this program carries none
