#pragma once

#include <QByteArray>
#include <QString>

// Gives the test process a private, empty home and data folders (so nothing
// touches the real user's files), turns on Qt's standard-paths test mode, and
// moves the test web server of every window built here to a free loopback port.
// Call first thing in initTestCase, or before the application object exists.
void initTestEnvironment();

// The private home folder created by initTestEnvironment.
QString testHomePath();

// The sanitizer options this suite started with, for a child program that
// opens windows as the suite does (initTestEnvironment gives other children
// faster ones).
QByteArray windowSanitizerOptions();

// Where a suite saves the pictures of its windows: $TESSARO_SCREENSHOT_DIR for
// a look by eye, else a folder in the private home, so the drawing and its
// checks run every time.
QString screenshotDir();

// Whether the suite runs under Wine, whose system tools differ from Windows'
// own (tasklist.exe prints nothing, ipconfig has no /flushdns).
bool runsUnderWine();
