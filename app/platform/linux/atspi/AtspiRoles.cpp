#include "app/platform/linux/atspi/AtspiRoles.h"

namespace zorvane::AtspiRoles {

std::string_view axRole(AtspiRole role)
{
    switch (role) {
    case ATSPI_ROLE_PUSH_BUTTON:
    case ATSPI_ROLE_TOGGLE_BUTTON:
    // A button that opens a menu is still a button to the person pressing it.
    case ATSPI_ROLE_PUSH_BUTTON_MENU:
        return "AXButton";
    case ATSPI_ROLE_IMAGE:
    case ATSPI_ROLE_ICON:
    // Chromium's <canvas> and GTK's drawing areas are pictures the application paints itself.
    case ATSPI_ROLE_CANVAS:
    case ATSPI_ROLE_DRAWING_AREA:
        return "AXImage";
    case ATSPI_ROLE_LINK:
        return "AXLink";
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_STATIC:
    // Chromium puts a paragraph's text on the paragraph itself (no static-text child as on
    // other platforms), so the paragraph is the piece of text a person points at.
    case ATSPI_ROLE_PARAGRAPH:
    case ATSPI_ROLE_CAPTION:
    case ATSPI_ROLE_BLOCK_QUOTE:
        return "AXStaticText";
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PASSWORD_TEXT:
    // A spin button is typed into like a one-line field.
    case ATSPI_ROLE_SPIN_BUTTON:
        return "AXTextField";
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_DOCUMENT_TEXT:
    // A terminal is a multi-line text area to whoever points at it.
    case ATSPI_ROLE_TERMINAL:
        return "AXTextArea";
    case ATSPI_ROLE_PANEL:
    case ATSPI_ROLE_FILLER:
    case ATSPI_ROLE_SECTION:
    case ATSPI_ROLE_FORM:
    // Containers that group controls without meaning of their own.
    case ATSPI_ROLE_GROUPING:
    case ATSPI_ROLE_LAYERED_PANE:
    case ATSPI_ROLE_ROOT_PANE:
    case ATSPI_ROLE_GLASS_PANE:
    case ATSPI_ROLE_OPTION_PANE:
    case ATSPI_ROLE_INTERNAL_FRAME:
    case ATSPI_ROLE_PAGE_TAB:
    case ATSPI_ROLE_LANDMARK:
    case ATSPI_ROLE_HEADER:
    case ATSPI_ROLE_FOOTER:
    case ATSPI_ROLE_LIST_ITEM:
    case ATSPI_ROLE_DESCRIPTION_LIST:
        return "AXGroup";
    // Web and reader articles keep the score they have elsewhere.
    case ATSPI_ROLE_ARTICLE:
        return "AXArticle";
    case ATSPI_ROLE_SPLIT_PANE:
        return "AXSplitGroup";
    case ATSPI_ROLE_SCROLL_PANE:
    case ATSPI_ROLE_VIEWPORT:
        return "AXScrollArea";
    case ATSPI_ROLE_TOOL_BAR:
        return "AXToolbar";
    case ATSPI_ROLE_DOCUMENT_WEB:
    // Other whole documents are as structural as a web page: never the thing meant.
    case ATSPI_ROLE_DOCUMENT_FRAME:
    case ATSPI_ROLE_DOCUMENT_EMAIL:
    case ATSPI_ROLE_DOCUMENT_PRESENTATION:
    case ATSPI_ROLE_DOCUMENT_SPREADSHEET:
        return "AXWebArea";
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_WINDOW:
    case ATSPI_ROLE_DIALOG:
    // Alerts and file choosers are windows of their own.
    case ATSPI_ROLE_ALERT:
    case ATSPI_ROLE_FILE_CHOOSER:
        return "AXWindow";
    case ATSPI_ROLE_APPLICATION:
        return "AXApplication";
    // The controls below carry their usual names, so that they score as controls.
    case ATSPI_ROLE_CHECK_BOX:
        return "AXCheckBox";
    case ATSPI_ROLE_RADIO_BUTTON:
        return "AXRadioButton";
    case ATSPI_ROLE_COMBO_BOX:
        return "AXComboBox";
    case ATSPI_ROLE_SLIDER:
        return "AXSlider";
    case ATSPI_ROLE_PROGRESS_BAR:
    case ATSPI_ROLE_LEVEL_BAR:
        return "AXProgressIndicator";
    case ATSPI_ROLE_SCROLL_BAR:
        return "AXScrollBar";
    case ATSPI_ROLE_MENU_BAR:
        return "AXMenuBar";
    case ATSPI_ROLE_MENU:
    case ATSPI_ROLE_POPUP_MENU:
        return "AXMenu";
    case ATSPI_ROLE_MENU_ITEM:
    case ATSPI_ROLE_CHECK_MENU_ITEM:
    case ATSPI_ROLE_RADIO_MENU_ITEM:
    case ATSPI_ROLE_TEAROFF_MENU_ITEM:
        return "AXMenuItem";
    case ATSPI_ROLE_PAGE_TAB_LIST:
        return "AXTabGroup";
    case ATSPI_ROLE_LIST:
    case ATSPI_ROLE_LIST_BOX:
        return "AXList";
    case ATSPI_ROLE_TABLE:
        return "AXTable";
    case ATSPI_ROLE_TREE:
    case ATSPI_ROLE_TREE_TABLE:
        return "AXOutline";
    case ATSPI_ROLE_TABLE_ROW:
    case ATSPI_ROLE_TREE_ITEM:
        return "AXRow";
    case ATSPI_ROLE_TABLE_CELL:
        return "AXCell";
    case ATSPI_ROLE_COLUMN_HEADER:
    case ATSPI_ROLE_ROW_HEADER:
    case ATSPI_ROLE_TABLE_COLUMN_HEADER:
    case ATSPI_ROLE_TABLE_ROW_HEADER:
        return "AXColumnHeader";
    case ATSPI_ROLE_HEADING:
        return "AXHeading";
    case ATSPI_ROLE_SEPARATOR:
        return "AXSplitter";
    case ATSPI_ROLE_STATUS_BAR:
        return "AXStatusBar";
    default:
        return "AXUnknown";
    }
}

std::string_view spanishName(AtspiRole role)
{
    switch (role) {
    case ATSPI_ROLE_PUSH_BUTTON:
    case ATSPI_ROLE_PUSH_BUTTON_MENU:
    case ATSPI_ROLE_TOGGLE_BUTTON:
        return "botón";
    case ATSPI_ROLE_LINK:
        return "enlace";
    // Every kind of picture reads as one: what a capture is taken for follows this name.
    case ATSPI_ROLE_IMAGE:
    case ATSPI_ROLE_ICON:
    case ATSPI_ROLE_CANVAS:
    case ATSPI_ROLE_DRAWING_AREA:
        return "imagen";
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_STATIC:
    case ATSPI_ROLE_PARAGRAPH:
    case ATSPI_ROLE_CAPTION:
    case ATSPI_ROLE_BLOCK_QUOTE:
        return "texto";
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PASSWORD_TEXT:
        return "campo de texto";
    case ATSPI_ROLE_SPIN_BUTTON:
        return "campo numérico";
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_DOCUMENT_TEXT:
        return "área de texto";
    case ATSPI_ROLE_TERMINAL:
        return "terminal";
    case ATSPI_ROLE_CHECK_BOX:
        return "casilla";
    case ATSPI_ROLE_RADIO_BUTTON:
        return "botón de opción";
    case ATSPI_ROLE_COMBO_BOX:
        return "menú desplegable";
    case ATSPI_ROLE_SLIDER:
        return "regulador";
    case ATSPI_ROLE_PROGRESS_BAR:
    case ATSPI_ROLE_LEVEL_BAR:
        return "indicador de progreso";
    case ATSPI_ROLE_SCROLL_BAR:
        return "barra de desplazamiento";
    case ATSPI_ROLE_MENU:
    case ATSPI_ROLE_POPUP_MENU:
        return "menú";
    case ATSPI_ROLE_MENU_BAR:
        return "barra de menús";
    case ATSPI_ROLE_MENU_ITEM:
    case ATSPI_ROLE_CHECK_MENU_ITEM:
    case ATSPI_ROLE_RADIO_MENU_ITEM:
    case ATSPI_ROLE_TEAROFF_MENU_ITEM:
        return "opción de menú";
    case ATSPI_ROLE_PAGE_TAB:
        return "pestaña";
    case ATSPI_ROLE_PAGE_TAB_LIST:
        return "grupo de pestañas";
    case ATSPI_ROLE_TABLE:
    case ATSPI_ROLE_TREE_TABLE:
        return "tabla";
    case ATSPI_ROLE_TREE:
        return "árbol";
    case ATSPI_ROLE_TABLE_ROW:
    case ATSPI_ROLE_TREE_ITEM:
        return "fila";
    case ATSPI_ROLE_TABLE_CELL:
        return "celda";
    case ATSPI_ROLE_HEADING:
    case ATSPI_ROLE_COLUMN_HEADER:
    case ATSPI_ROLE_ROW_HEADER:
    case ATSPI_ROLE_TABLE_COLUMN_HEADER:
    case ATSPI_ROLE_TABLE_ROW_HEADER:
        return "encabezado";
    case ATSPI_ROLE_LIST:
    case ATSPI_ROLE_LIST_BOX:
    case ATSPI_ROLE_DESCRIPTION_LIST:
        return "lista";
    case ATSPI_ROLE_LIST_ITEM:
        return "elemento de lista";
    case ATSPI_ROLE_PANEL:
    case ATSPI_ROLE_FILLER:
    case ATSPI_ROLE_SECTION:
    case ATSPI_ROLE_FORM:
    case ATSPI_ROLE_GROUPING:
    case ATSPI_ROLE_LAYERED_PANE:
    case ATSPI_ROLE_ROOT_PANE:
    case ATSPI_ROLE_GLASS_PANE:
    case ATSPI_ROLE_OPTION_PANE:
    case ATSPI_ROLE_INTERNAL_FRAME:
    case ATSPI_ROLE_LANDMARK:
    case ATSPI_ROLE_HEADER:
    case ATSPI_ROLE_FOOTER:
        return "grupo";
    case ATSPI_ROLE_ARTICLE:
        return "artículo";
    case ATSPI_ROLE_SPLIT_PANE:
        return "panel dividido";
    case ATSPI_ROLE_SCROLL_PANE:
    case ATSPI_ROLE_VIEWPORT:
        return "área de desplazamiento";
    case ATSPI_ROLE_TOOL_BAR:
        return "barra de herramientas";
    case ATSPI_ROLE_STATUS_BAR:
        return "barra de estado";
    case ATSPI_ROLE_DOCUMENT_WEB:
        return "página web";
    case ATSPI_ROLE_DOCUMENT_FRAME:
    case ATSPI_ROLE_DOCUMENT_EMAIL:
    case ATSPI_ROLE_DOCUMENT_PRESENTATION:
    case ATSPI_ROLE_DOCUMENT_SPREADSHEET:
        return "documento";
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_WINDOW:
        return "ventana";
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_FILE_CHOOSER:
        return "diálogo";
    case ATSPI_ROLE_ALERT:
    case ATSPI_ROLE_NOTIFICATION:
        return "aviso";
    case ATSPI_ROLE_TOOL_TIP:
        return "sugerencia";
    case ATSPI_ROLE_SEPARATOR:
        return "separador";
    case ATSPI_ROLE_APPLICATION:
        return "aplicación";
    default:
        return "elemento";
    }
}

} // namespace zorvane::AtspiRoles
