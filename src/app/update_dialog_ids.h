// Ids of the update dialog's template and controls. Only #define lines, so
// that the resource script can include this header too.
#pragma once

#define IDD_UPDATE 102    // the dialog template, language 1041
#define IDC_MESSAGE 1012  // the read-only message area

#ifndef IDOK
#define IDOK 1  // the OK button
#endif
#ifndef IDCANCEL
#define IDCANCEL 2  // the Cancel button
#endif
