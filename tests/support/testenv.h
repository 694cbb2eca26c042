#pragma once

#include <QString>

// Gives the test process a private, empty home and data folders (so nothing
// touches the real user's files) and turns on Qt's standard-paths test mode.
// Call first thing in initTestCase, or before the application object exists.
void initTestEnvironment();

// The private home folder created by initTestEnvironment.
QString testHomePath();
