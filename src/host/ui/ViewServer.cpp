#include "host/ui/ViewServer.h"

#include <QBoxLayout>
#include <QFile>
#include <QGridLayout>
#include <QImage>
#include <QWidget>
#include <QXmlStreamReader>
#include <cstdio>
#include <map>
#include <optional>
#include <vector>

#include "host/ui/Controls.h"
#include "host/qd/GWorld.h"

namespace {

// ---- registry and folders --------------------------------------------------

std::map<std::string, host::ViewFactory>& Registry() {
  static std::map<std::string, host::ViewFactory> registry = [] {
    std::map<std::string, host::ViewFactory> r;
    auto add = [&r]<class T>(std::initializer_list<const char*> names, T*) {
      for (const char* n : names) r[n] = [] { return std::make_unique<T>(); };
    };
    add({"TView", "QWidget", "QFrame"}, static_cast<TView*>(nullptr));
    add({"TWindow", "QMainWindow", "QDialog"}, static_cast<TWindow*>(nullptr));
    add({"TStaticText", "QLabel"}, static_cast<TStaticText*>(nullptr));
    add({"TEditText", "QLineEdit"}, static_cast<TEditText*>(nullptr));
    add({"TCheckBox", "QCheckBox"}, static_cast<TCheckBox*>(nullptr));
    add({"TRadio", "QRadioButton"}, static_cast<TRadio*>(nullptr));
    add({"TCluster", "QGroupBox"}, static_cast<TCluster*>(nullptr));
    add({"TPopup", "QComboBox"}, static_cast<TPopup*>(nullptr));
    add({"TButton", "QPushButton"}, static_cast<TButton*>(nullptr));
    add({"TTextListView", "QListView", "QListWidget"}, static_cast<TTextListView*>(nullptr));
    add({"TPictureView"}, static_cast<TPictureView*>(nullptr));
    add({"TProgressBar", "QProgressBar"}, static_cast<TProgressBar*>(nullptr));
    add({"TChasingArrows"}, static_cast<TChasingArrows*>(nullptr));
    add({"TNumberText", "QSpinBox"}, static_cast<TNumberText*>(nullptr));
    add({"TSlider", "QSlider", "QScrollBar"}, static_cast<TSlider*>(nullptr));
    return r;
  }();
  return registry;
}

std::vector<std::string>& Folders() {
  static std::vector<std::string> folders;
  return folders;
}

// ---- the .ui tree ----------------------------------------------------------

struct Node {
  enum Kind { kWidget, kLayout, kSpacer } kind = kWidget;
  std::string cls;
  std::string name;
  std::vector<std::pair<std::string, std::string>> props;
  std::optional<QRect> geometry;
  std::vector<std::string> items;
  std::vector<Node> children;
  int row = -1, column = -1, rowSpan = 1, columnSpan = 1;
};

struct Resource {
  Node root;
  std::map<std::string, std::string> extends;  // custom class -> base class
};

std::string Attr(const QXmlStreamReader& r, const char* name) {
  return r.attributes().value(name).toString().toStdString();
}

// Reads a <property>: its value as text, or its rectangle.
void ReadProperty(QXmlStreamReader& r, std::string& text, std::optional<QRect>& rect) {
  while (r.readNextStartElement()) {
    const auto tag = r.name();
    if (tag == QLatin1String("rect")) {
      int v[4] = {0, 0, 0, 0};
      while (r.readNextStartElement()) {
        const auto f = r.name();
        const int n = r.readElementText().toInt();
        if (f == QLatin1String("x")) v[0] = n;
        else if (f == QLatin1String("y")) v[1] = n;
        else if (f == QLatin1String("width")) v[2] = n;
        else if (f == QLatin1String("height")) v[3] = n;
      }
      rect = QRect(v[0], v[1], v[2], v[3]);
    } else if (tag == QLatin1String("string") || tag == QLatin1String("bool") || tag == QLatin1String("number") ||
               tag == QLatin1String("enum") || tag == QLatin1String("set") || tag == QLatin1String("double") ||
               tag == QLatin1String("cstring")) {
      text = r.readElementText().toStdString();
    } else {
      r.skipCurrentElement();
    }
  }
}

Node ReadWidget(QXmlStreamReader& r);
Node ReadLayout(QXmlStreamReader& r);

void ReadLayoutItem(QXmlStreamReader& r, Node& layout) {
  const QXmlStreamAttributes a = r.attributes();
  const int row = a.hasAttribute("row") ? a.value("row").toInt() : -1;
  const int column = a.hasAttribute("column") ? a.value("column").toInt() : -1;
  const int rowSpan = a.hasAttribute("rowspan") ? a.value("rowspan").toInt() : 1;
  const int columnSpan = a.hasAttribute("colspan") ? a.value("colspan").toInt() : 1;
  while (r.readNextStartElement()) {
    Node child;
    if (r.name() == QLatin1String("widget")) {
      child = ReadWidget(r);
    } else if (r.name() == QLatin1String("layout")) {
      child = ReadLayout(r);
    } else if (r.name() == QLatin1String("spacer")) {
      child.kind = Node::kSpacer;
      r.skipCurrentElement();
    } else {
      r.skipCurrentElement();
      continue;
    }
    child.row = row;
    child.column = column;
    child.rowSpan = rowSpan;
    child.columnSpan = columnSpan;
    layout.children.push_back(std::move(child));
  }
}

Node ReadLayout(QXmlStreamReader& r) {
  Node n;
  n.kind = Node::kLayout;
  n.cls = Attr(r, "class");
  n.name = Attr(r, "name");
  while (r.readNextStartElement()) {
    if (r.name() == QLatin1String("item")) ReadLayoutItem(r, n);
    else r.skipCurrentElement();
  }
  return n;
}

Node ReadWidget(QXmlStreamReader& r) {
  Node n;
  n.cls = Attr(r, "class");
  n.name = Attr(r, "name");
  while (r.readNextStartElement()) {
    const auto tag = r.name();
    if (tag == QLatin1String("property")) {
      const std::string name = Attr(r, "name");
      std::string text;
      std::optional<QRect> rect;
      ReadProperty(r, text, rect);
      if (name == "geometry" && rect) n.geometry = rect;
      else n.props.emplace_back(name, text);
    } else if (tag == QLatin1String("widget")) {
      n.children.push_back(ReadWidget(r));
    } else if (tag == QLatin1String("layout")) {
      n.children.push_back(ReadLayout(r));
    } else if (tag == QLatin1String("item")) {
      std::string text;
      while (r.readNextStartElement()) {
        if (r.name() == QLatin1String("property") && Attr(r, "name") == "text") {
          std::optional<QRect> ignored;
          ReadProperty(r, text, ignored);
        } else {
          r.skipCurrentElement();
        }
      }
      n.items.push_back(text);
    } else {
      r.skipCurrentElement();
    }
  }
  return n;
}

std::optional<Resource> LoadResourceFile(const std::string& path, const std::string& label) {
  if (path.empty()) {
    std::fprintf(stderr, "View resource %s not found\n", label.c_str());
    return std::nullopt;
  }
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "View resource %s: cannot open %s\n", label.c_str(), path.c_str());
    return std::nullopt;
  }
  QXmlStreamReader r(&file);
  Resource res;
  bool haveRoot = false;
  if (r.readNextStartElement() && r.name() == QLatin1String("ui")) {
    while (r.readNextStartElement()) {
      if (r.name() == QLatin1String("widget") && !haveRoot) {
        res.root = ReadWidget(r);
        haveRoot = true;
      } else if (r.name() == QLatin1String("customwidgets")) {
        while (r.readNextStartElement()) {
          std::string cls, base;
          while (r.readNextStartElement()) {
            if (r.name() == QLatin1String("class")) cls = r.readElementText().toStdString();
            else if (r.name() == QLatin1String("extends")) base = r.readElementText().toStdString();
            else r.skipCurrentElement();
          }
          if (!cls.empty()) res.extends[cls] = base;
        }
      } else {
        r.skipCurrentElement();
      }
    }
  }
  if (r.hasError() || !haveRoot) {
    std::fprintf(stderr, "View resource %s (%s) is not a valid .ui file: %s\n", label.c_str(), path.c_str(),
                 r.hasError() ? r.errorString().toLocal8Bit().constData() : "no widget");
    return std::nullopt;
  }
  return res;
}

std::optional<Resource> LoadResource(int16_t id) {
  return LoadResourceFile(host::FindViewResource(id), std::to_string(id));
}

// ---- building --------------------------------------------------------------

std::unique_ptr<TView> MakeView(const Node& n, const Resource& res) {
  auto& reg = Registry();
  std::string cls = n.cls;
  // A custom class may extend another custom class; follow the chain a few steps.
  for (int depth = 0; depth < 8; ++depth) {
    if (auto it = reg.find(cls); it != reg.end()) {
      std::unique_ptr<TView> view = it->second();
      view->SetClassName(n.cls);
      view->SetIdentifier(IdentifierFromName(n.name));
      return view;
    }
    auto base = res.extends.find(cls);
    if (base == res.extends.end()) break;
    cls = base->second;
  }
  std::fprintf(stderr, "View class \"%s\" is not registered; using a plain view\n", n.cls.c_str());
  auto view = std::make_unique<TView>();
  view->SetClassName(n.cls);
  view->SetIdentifier(IdentifierFromName(n.name));
  return view;
}

void Populate(TView& view, const Node& n, const Resource& res);

TView* AddChild(TView& parent, const Node& child, const Resource& res) {
  TView* sub = parent.AddSubView(MakeView(child, res));
  Populate(*sub, child, res);
  return sub;
}

QLayout* BuildLayout(TView& view, const Node& n, const Resource& res) {
  QLayout* layout = nullptr;
  if (n.cls == "QHBoxLayout") layout = new QHBoxLayout;
  else if (n.cls == "QGridLayout") layout = new QGridLayout;
  else layout = new QVBoxLayout;
  for (const Node& item : n.children) {
    auto* grid = qobject_cast<QGridLayout*>(layout);
    auto* box = qobject_cast<QBoxLayout*>(layout);
    if (item.kind == Node::kWidget) {
      TView* sub = AddChild(view, item, res);
      if (grid) grid->addWidget(sub->GetWidget(), std::max(0, item.row), std::max(0, item.column), item.rowSpan, item.columnSpan);
      else layout->addWidget(sub->GetWidget());
    } else if (item.kind == Node::kLayout) {
      QLayout* inner = BuildLayout(view, item, res);
      if (grid) grid->addLayout(inner, std::max(0, item.row), std::max(0, item.column), item.rowSpan, item.columnSpan);
      else if (box) box->addLayout(inner);
    } else if (box) {
      box->addStretch();
    }
  }
  return layout;
}

void PopulateChildren(TView& view, const Node& n, const Resource& res) {
  auto* window = dynamic_cast<TWindow*>(&view);
  for (const Node& child : n.children) {
    if (child.kind == Node::kLayout) {
      QLayout* layout = BuildLayout(view, child, res);
      if (view.ContentWidget() && view.ContentWidget()->layout() == nullptr) view.ContentWidget()->setLayout(layout);
      else delete layout;
      continue;
    }
    if (window && child.cls == "QMenuBar") {
      window->SetWantsMenuBar(true);
    } else if (child.cls == "QStatusBar" || child.cls == "QToolBar" || child.cls == "QMenuBar") {
      // Not part of the framework's views.
    } else if (window && child.cls == "QWidget" && child.name == "centralwidget") {
      PopulateChildren(view, child, res);
    } else {
      AddChild(view, child, res);
    }
  }
}

void Populate(TView& view, const Node& n, const Resource& res) {
  QWidget* w = view.GetWidget();
  w->setObjectName(QString::fromStdString(n.name));
  auto* window = dynamic_cast<TWindow*>(&view);
  if (n.geometry) {
    if (window) w->resize(n.geometry->size());
    else w->setGeometry(*n.geometry);
  }
  if (auto* button = dynamic_cast<TButton*>(&view);
      button && (view.GetIdentifier() == FourCC("ok  ") || view.GetIdentifier() == FourCC("canc"))) {
    button->SetDismisser(true);
  }
  for (const auto& [name, value] : n.props) {
    if (window && name == "windowTitle") window->SetTitle(CStr255_AC(value));
    else view.ApplyResourceProperty(name, value);
  }
  for (const std::string& item : n.items) view.AddResourceItem(item);
  PopulateChildren(view, n, res);
}

void PostCreate(TView& view) {
  view.DoPostCreate();
  for (size_t i = 0; i < view.CountSubViews(); ++i) PostCreate(*view.GetSubView(i));
}

}  // namespace

// ---- public ----------------------------------------------------------------

void host::RegisterViewClass(const std::string& className, ViewFactory factory) {
  Registry()[className] = std::move(factory);
}

bool host::IsViewClassRegistered(const std::string& className) { return Registry().count(className) != 0; }

void host::AddViewResourceFolder(const std::string& folderOrPrefix) { Folders().push_back(folderOrPrefix); }

void host::ClearViewResourceFolders() { Folders().clear(); }

namespace {
// The first file of that name in the resource folders, last-added first.
std::string FindResourceFile(const std::string& fileName) {
  const auto& folders = Folders();
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    std::string path = *it;
    if (!path.empty() && path.back() != '/') path += '/';
    path += fileName;
    if (QFile::exists(QString::fromStdString(path))) return path;
  }
  return std::string();
}
}  // namespace

std::string host::FindViewResource(int16_t id) { return FindResourceFile(std::to_string(id) + ".ui"); }

std::string host::FindViewResource(const std::string& name) {
  // A name is one file of the folders, never a path.
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return std::string();
  return FindResourceFile(name + ".ui");
}

std::optional<std::vector<uint8_t>> host::GetBundleResource(const std::string& name, const std::string& type) {
  const std::string fileName = type.empty() ? name : name + "." + type;
  if (name.empty() || fileName.find('/') != std::string::npos) return std::nullopt;
  const std::string path = FindResourceFile(fileName);
  if (path.empty()) return std::nullopt;
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray bytes = file.readAll();
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::unique_ptr<host::GWorld> host::GetPictureResource(int16_t id) {
  const auto& folders = Folders();
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    std::string path = *it;
    if (!path.empty() && path.back() != '/') path += '/';
    path += std::to_string(id) + ".png";
    if (!QFile::exists(QString::fromStdString(path))) continue;
    const QImage image = QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_ARGB32);
    if (image.isNull()) return nullptr;
    auto world = GWorld::Create(CLongRect_AC(0, 0, image.height(), image.width()));
    if (!world) return nullptr;
    for (int y = 0; y < image.height(); ++y) {
      const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
      uint8_t* out = world->scanline(y);
      for (int x = 0; x < image.width(); ++x, out += 4) {
        out[0] = 0xFF;
        out[1] = uint8_t(qRed(in[x]));
        out[2] = uint8_t(qGreen(in[x]));
        out[3] = uint8_t(qBlue(in[x]));
      }
    }
    return world;
  }
  return nullptr;
}

namespace {
TWindow* NewWindowOf(std::optional<Resource> res, const std::string& label) {
  if (!res) return nullptr;
  std::unique_ptr<TView> view = MakeView(res->root, *res);
  std::unique_ptr<TWindow> window(dynamic_cast<TWindow*>(view.get()));
  if (window) {
    view.release();
  } else {
    std::fprintf(stderr, "View resource %s: \"%s\" is not a window class; using TWindow\n", label.c_str(),
                 res->root.cls.c_str());
    window = std::make_unique<TWindow>();
    window->SetClassName(res->root.cls);
    window->SetIdentifier(IdentifierFromName(res->root.name));
  }
  window->MakeWidget(nullptr);
  TWindow* w = TWindow::Adopt(std::move(window));
  Populate(*w, res->root, *res);
  PostCreate(*w);
  w->FitToContents();
  return w;
}
}  // namespace

TWindow* NewTemplateWindow(int16_t id) { return NewWindowOf(LoadResource(id), std::to_string(id)); }

TWindow* NewTemplateWindow(const std::string& name) {
  return NewWindowOf(LoadResourceFile(host::FindViewResource(name), name), name);
}

std::unique_ptr<TView> DoCreateViews(int16_t id, TView* superView, TView** created) {
  if (created) *created = nullptr;
  std::optional<Resource> res = LoadResource(id);
  if (!res) return nullptr;
  if (superView) {
    TView* sub = AddChild(*superView, res->root, *res);
    PostCreate(*sub);
    if (created) *created = sub;
    return nullptr;
  }
  std::unique_ptr<TView> view = MakeView(res->root, *res);
  view->MakeWidget(nullptr);
  Populate(*view, res->root, *res);
  PostCreate(*view);
  if (created) *created = view.get();
  return view;
}
