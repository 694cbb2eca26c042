#pragma once

#include "support/fakehttpserver.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QJsonObject>

// Replies the fake provider hands out, built the same way in every suite.
FakeHttpServer::Response rawReply(const QByteArray &body);
FakeHttpServer::Response jsonReply(const QJsonObject &object); // compact JSON

QByteArray pngBytes(const QImage &image);
// An image of one colour, in the format the suites compare pixels in.
QImage filledImage(int width, int height, const QColor &color,
                   QImage::Format format = QImage::Format_ARGB32);
FakeHttpServer::Response pictureReply(const QByteArray &pngData);
FakeHttpServer::Response pictureReply(const QImage &image);
