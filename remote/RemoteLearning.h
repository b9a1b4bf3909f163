#pragma once

#include <cstdint>

#include <QObject>
#include <QString>

class CRemoteKeyRouter;

// The window side of learning a remote: while it runs, the reader hands every valid code to this object instead
// of looking up a command, and the text of the code field follows the remote seen.
class CRemoteLearning : public QObject
{
    Q_OBJECT
public:
    explicit CRemoteLearning(CRemoteKeyRouter* router, QObject* parent = nullptr);
    ~CRemoteLearning() override;

    // Starts learning and sets the text for the remote last seen (or stored).
    void Begin();
    // Ends learning and stores the learned code as CompanyID.
    void End();
    const QString& Text() const { return m_strText; }

    // The field text for a received code, and the code kept for it (0 for a remote without a table).
    static QString TextForCode(std::uint16_t customCode, std::uint8_t keyByte, std::uint16_t* kept);

signals:
    void textChanged(const QString& text);

protected:
    bool event(QEvent* e) override;

private:
    void SetText(const QString& text);

    CRemoteKeyRouter* m_pRouter;
    QString m_strText;
    bool m_bActive = false;
};
