/* The database page's skin: a Qt style sheet, applied when the program
   finds x/o.cjs beside itself or in its data folder. */
QGroupBox {
  border: 1px solid #8fa6bf;
  border-radius: 3px;
  margin-top: 8px;
  padding-top: 4px;
}
QGroupBox::title {
  subcontrol-origin: margin;
  left: 8px;
  padding: 0 3px;
  color: #1f3a5f;
}
QPushButton {
  border: 1px solid #6f8aa8;
  border-radius: 3px;
  background: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #fbfcfe, stop: 1 #dfe7f1);
  color: #1f3a5f;
}
QPushButton:hover {
  background: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #fff6e8, stop: 1 #f6d6a4);
}
QPushButton:pressed {
  background: #f2a93b;
}
