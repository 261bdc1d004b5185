#include "shell/QtKeys.h"

#include "mixer/MixerViewModel.h"

#include <QKeyEvent>

namespace brindell {

PanelKey panelKey(const QKeyEvent& event) {
    PanelKey key;
    switch (event.key()) {
    case Qt::Key_Up:
        key.keyCode = keycode::upArrow;
        break;
    case Qt::Key_Down:
        key.keyCode = keycode::downArrow;
        break;
    case Qt::Key_Left:
        key.keyCode = keycode::leftArrow;
        break;
    case Qt::Key_Right:
        key.keyCode = keycode::rightArrow;
        break;
    case Qt::Key_Home:
        key.keyCode = keycode::home;
        break;
    case Qt::Key_End:
        key.keyCode = keycode::end;
        break;
    default:
        break;
    }
    // Qt names printable keys by their unshifted Latin-1 character (in upper case for
    // letters); that is the key's character whatever modifier is held.
    const int code = event.key();
    if (code >= Qt::Key_Space && code <= Qt::Key_ydiaeresis) {
        key.characters = QString(QChar(code)).toLower().toStdString();
    } else {
        key.characters = event.text().toStdString();
    }
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    key.command = modifiers.testFlag(Qt::MetaModifier);
    key.control = modifiers.testFlag(Qt::ControlModifier);
    key.shift = modifiers.testFlag(Qt::ShiftModifier);
    key.option = modifiers.testFlag(Qt::AltModifier);
    return key;
}

bool handlePanelKey(MixerViewModel& model, const QKeyEvent& event) {
    const PanelKey key = panelKey(event);
    const auto action =
        MixerViewModel::keyAction(key.keyCode, key.characters, key.command, key.control);
    if (!action) {
        return false;
    }
    return model.handleKey(*action, key.shift, key.option);
}

} // namespace brindell
