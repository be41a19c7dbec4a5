#pragma once
// Error cases compare by name, so a failure says which case came.

#include "platform/net/error.h"

#include <QtTest>

#define QCOMPARE_CASE(actual, expected) \
    QCOMPARE(orvix::platform::net::toString(actual), orvix::platform::net::toString(expected))
