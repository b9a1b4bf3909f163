#include "PhonePanel.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>

#include "common/Paths.h"
#include "common/Settings.h"
#include "phone/PairingWindow.h"
#include "phone/PhoneRemote.h"

namespace
{

QString storePath()
{
    return Paths::StateFile(QStringLiteral("phones.json"));
}

} // namespace

CPhonePanel::CPhonePanel(CRemoteKeyRouter* router, Hooks hooks, QWidget* parent)
    : QGroupBox(QStringLiteral("手机"), parent)
    , m_pRouter(router)
    , m_hooks(std::move(hooks))
{
    // Off by default; the paired phones, each removable.
    m_pSwitch = new QCheckBox(QStringLiteral("手机遥控"), this);
    m_pSwitch->setObjectName(QStringLiteral("phoneRemote"));
    auto* pair = new QPushButton(QStringLiteral("配对手机"), this);
    pair->setObjectName(QStringLiteral("pairPhone"));
    m_pPhones = new QListWidget(this);
    m_pPhones->setObjectName(QStringLiteral("phones"));
    m_pPhones->setMaximumHeight(fontMetrics().height() * 5);
    auto* remove = new QPushButton(QStringLiteral("删除"), this);
    remove->setObjectName(QStringLiteral("removePhone"));
    auto* grid = new QGridLayout(this);
    grid->addWidget(m_pSwitch, 0, 0);
    grid->addWidget(pair, 0, 1, Qt::AlignLeft);
    grid->addWidget(m_pPhones, 1, 0, 1, 2);
    grid->addWidget(remove, 2, 1, Qt::AlignLeft);
    for (QPushButton* b : { pair, remove })
        b->setAutoDefault(false);
    connect(m_pSwitch, &QCheckBox::clicked, this, [this](bool on) {
        Enable(on);
        WriteSetting(QString::fromLatin1(SettingKey::PhoneRemote),
                     m_pPhone ? QStringLiteral("1") : QStringLiteral("0"));
    });
    connect(pair, &QPushButton::clicked, this, &CPhonePanel::Pair);
    connect(remove, &QPushButton::clicked, this, [this] {
        const QListWidgetItem* item = m_pPhones->currentItem();
        if (item && m_pPhone)
            m_pPhone->RemovePhone(item->data(Qt::UserRole).toString());
    });
}

CPhonePanel::~CPhonePanel() = default;

void CPhonePanel::Enable(bool on)
{
    if (!on) {
        m_pPhone.reset();
    } else if (!m_pPhone) {
        auto phone = std::make_unique<CPhoneRemote>(m_pRouter, storePath());
        const int port = ReadSettingNumber(QString::fromLatin1(SettingKey::PhoneRemotePort));
        if (!phone->Start(port > 0 && port < 65536 ? static_cast<quint16>(port) : CPhoneRemote::kDefaultPort)) {
            if (m_hooks.message)
                m_hooks.message(QStringLiteral("手机遥控无法启动：端口已被占用"));
        } else {
            phone->SetMenuSource(m_hooks.menu);
            connect(phone.get(), &CPhoneRemote::sendToTv, this, &CPhonePanel::sendToTv);
            connect(phone.get(), &CPhoneRemote::resumeWatched, this, &CPhonePanel::resumeWatched);
            connect(phone.get(), &CPhoneRemote::speakMenus, this, &CPhonePanel::speakMenus);
            connect(phone.get(), &CPhoneRemote::phonesChanged, this, &CPhonePanel::FillList);
            m_pPhone = std::move(phone);
        }
    }
    m_pSwitch->setChecked(m_pPhone != nullptr);
    FillList();
}

void CPhonePanel::MenuChanged()
{
    if (m_pPhone)
        m_pPhone->MenuChanged();
}

void CPhonePanel::FillList()
{
    m_pPhones->clear();
    CPhoneStore store(storePath());
    store.Load();
    for (const CPhoneStore::Phone& phone : store.Phones()) {
        auto* item = new QListWidgetItem(
            QStringLiteral("%1  %2").arg(phone.name, phone.paired.toLocalTime().toString(QStringLiteral("yyyy-MM-dd"))),
            m_pPhones);
        item->setData(Qt::UserRole, phone.hash);
    }
}

void CPhonePanel::Pair()
{
    if (!m_pPhone)
        return;
    m_pPhone->StartPairing();
    QScreen* screen = m_hooks.pairingScreen ? m_hooks.pairingScreen() : nullptr;
    auto* window = new CPairingWindow(m_pPhone.get(), screen ? screen : QGuiApplication::primaryScreen());
    window->show();
}
