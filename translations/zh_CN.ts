<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>MainWindow</name>
    <message><source>&amp;File</source><translation>文件(&amp;F)</translation></message>
    <message><source>&amp;Edit</source><translation>编辑(&amp;E)</translation></message>
    <message><source>&amp;Help</source><translation>帮助(&amp;H)</translation></message>
    <message><source>&amp;Preferences...</source><translation>偏好设置(&amp;P)...</translation></message>
    <message><source>Preferences</source><translation>偏好设置</translation></message>
    <message><source>&amp;Proxy</source><translation>代理设置(&amp;P)</translation></message>
    <message><source>&amp;Print</source><translation>打印(&amp;P)</translation></message>
    <message><source>&amp;Quit</source><translation>退出(&amp;Q)</translation></message>
    <message><source>&amp;Copy</source><translation>复制(&amp;C)</translation></message>
    <message><source>&amp;Homepage...</source><translation>官方网站(&amp;H)...</translation></message>
    <message><source>&amp;Support...</source><translation>技术支持(&amp;S)...</translation></message>
    <message><source>Shortcuts</source><translation>快捷键介绍</translation></message>
    <message><source>&amp;About</source><translation>关于(&amp;A)</translation></message>
</context>
</TS>
