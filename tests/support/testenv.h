#pragma once

#include <QString>

// Gives the test process a private, empty home and data folders (so nothing
// touches the real user's files), turns on Qt's standard-paths test mode, and
// moves the test web server of every window built here to a free loopback port.
// Call first thing in initTestCase, or before the application object exists.
void initTestEnvironment();

// The private home folder created by initTestEnvironment.
QString testHomePath();
