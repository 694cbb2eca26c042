#include "support/fakereplies.h"

#include <QBuffer>
#include <QJsonDocument>

FakeHttpServer::Response rawReply(const QByteArray &body)
{
    FakeHttpServer::Response response;
    response.body = body;
    return response;
}

FakeHttpServer::Response jsonReply(const QJsonObject &object)
{
    return rawReply(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QByteArray pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QImage filledImage(int width, int height, const QColor &color, QImage::Format format)
{
    QImage image(width, height, format);
    image.fill(color);
    return image;
}

FakeHttpServer::Response pictureReply(const QByteArray &pngData)
{
    FakeHttpServer::Response response = rawReply(pngData);
    response.contentType = "image/png";
    return response;
}

FakeHttpServer::Response pictureReply(const QImage &image)
{
    return pictureReply(pngBytes(image));
}
