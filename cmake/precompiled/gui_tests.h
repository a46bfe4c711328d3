// Precompiled for the window's test programs: the window's Qt headers, Qt Test and GoogleTest.
#pragma once

#include "cmake/precompiled/tests.h"
#include "cmake/precompiled/widgets.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
