#pragma once
// ulmar-cli record pdf DIR [--out FILE] [--force]: the PDF of a kept service session, from its
// session.json, without the line. Main thread, under a QGuiApplication (the pages' text is
// drawn with Qt Gui's fonts).

class TCliOutput;
struct TCliRequest;

// The PDF's path: --out, or record.pdf in the session folder (replaced, being the folder's own
// product). A missing or garbled session.json is a bad file (exit 3); a PDF that cannot be
// written is an output failure (exit 2).
int CliRecordPdf(const TCliRequest& request, TCliOutput& out);
