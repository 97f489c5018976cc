#include "velmoradesignerplugin.h"

#include <velmora/identity.h>
#include <velmora/velmora.h>

#include <QIcon>

VelmoraDesignerPlugin::VelmoraDesignerPlugin(QObject *parent)
    : QObject(parent)
{
}

QString VelmoraDesignerPlugin::name() const
{
    // The class a generated form creates.
    return QString::fromLatin1(VelmoraIdentity::ClassName);
}

QString VelmoraDesignerPlugin::group() const
{
    return QStringLiteral("Velmora");
}

QString VelmoraDesignerPlugin::toolTip() const
{
    return QString::fromLatin1(VelmoraIdentity::Title);
}

QString VelmoraDesignerPlugin::whatsThis() const
{
    return QStringLiteral("%1: the work centers assigned to one employee, loaded from and committed to the "
                          "server page Velmora.asp. Set employeeID and serverAddress; in Designer nothing is loaded.")
        .arg(QString::fromLatin1(VelmoraIdentity::Title));
}

QString VelmoraDesignerPlugin::includeFile() const
{
    return QStringLiteral("velmora/velmora.h");
}

QIcon VelmoraDesignerPlugin::icon() const
{
    return QIcon(QStringLiteral(":/velmora/designer/velmora.png"));
}

bool VelmoraDesignerPlugin::isContainer() const
{
    return false;
}

QWidget *VelmoraDesignerPlugin::createWidget(QWidget *parent)
{
    auto *control = new Velmora(parent);
    // Before Designer assigns the form's properties: a server assigned in
    // Designer is only stored.
    control->enterDesignMode();
    return control;
}

bool VelmoraDesignerPlugin::isInitialized() const
{
    return m_initialized;
}

void VelmoraDesignerPlugin::initialize(QDesignerFormEditorInterface *)
{
    m_initialized = true;
}

QString VelmoraDesignerPlugin::domXml() const
{
    // The size a control dropped on a form starts with (the smallest size it
    // asks for, 583 x 348 pixels), the name in the widget box, the header
    // included as <velmora/velmora.h>, and the employee and the server as
    // plain, untranslated text: they go to the server as they are.
    return QStringLiteral(R"(<ui language="c++" displayname="%1">
 <widget class="Velmora" name="velmora">
  <property name="geometry">
   <rect><x>0</x><y>0</y><width>583</width><height>348</height></rect>
  </property>
 </widget>
 <customwidgets>
  <customwidget>
   <class>Velmora</class>
   <extends>QWidget</extends>
   <header location="global">velmora/velmora.h</header>
   <propertyspecifications>
    <stringpropertyspecification name="employeeID" type="singleline" notr="true"/>
    <stringpropertyspecification name="serverAddress" type="singleline" notr="true"/>
    <tooltip name="employeeID">The employee whose centers are shown (a signed 32-bit number)</tooltip>
    <tooltip name="serverAddress">Base address of the server, e.g. http://intranet:8080; loads at run time only</tooltip>
    <tooltip name="timeout">How long a load or a commit waits for a silent server, in milliseconds</tooltip>
   </propertyspecifications>
  </customwidget>
 </customwidgets>
</ui>
)")
        .arg(QString::fromLatin1(VelmoraIdentity::Title));
}
